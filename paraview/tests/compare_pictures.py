# Compares the pictures of a distributed run with those of the serial run, picture by picture:
# the mean absolute difference per colour channel (0..1) must be at most MEAN, and no single row
# or column may differ by more than SEAM on average (a seam where the pieces meet shows as one).
# Also checks that each serial picture shows the volume. Prints one line per picture and a
# closing "N passed, N failed". Pictures whose names start with a SKIP prefix are left out.
#   python3 compare_pictures.py SERIAL_DIR PARALLEL_DIR LABEL [SKIP...]
import os
import struct
import sys

MEAN = 0.005
SEAM = 0.02
COVERED = 0.05  # least fraction of non-black pixels in a serial picture


def read_bmp(path):
    """Width, height and rows of (r, g, b) bytes, bottom row first, of an uncompressed BMP."""
    data = open(path, 'rb').read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height = struct.unpack_from('<ii', data, 18)
    bits, = struct.unpack_from('<H', data, 28)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        start = offset + y * stride
        row = data[start:start + width * step]
        # BMP stores blue, green, red.
        rows.append([(row[i + 2], row[i + 1], row[i]) for i in range(0, width * step, step)])
    return width, abs(height), rows


def compare(serial_path, parallel_path):
    w, h, a = read_bmp(serial_path)
    w2, h2, b = read_bmp(parallel_path)
    if (w, h) != (w2, h2):
        return None
    channel = [0.0, 0.0, 0.0]
    rows = [0.0] * h
    columns = [0.0] * w
    lit = 0
    for y in range(h):
        for x in range(w):
            p, q = a[y][x], b[y][x]
            d = 0.0
            for c in range(3):
                e = abs(p[c] - q[c]) / 255.0
                channel[c] += e
                d += e / 3.0
            rows[y] += d / w
            columns[x] += d / h
            lit += 1 if max(p) > 0 else 0
    mean = max(c / (w * h) for c in channel)
    return mean, max(max(rows), max(columns)), lit / (w * h)


def main():
    serial_dir, parallel_dir, label = sys.argv[1:4]
    skip = tuple(sys.argv[4:])
    passed = failed = 0
    for name in sorted(os.listdir(serial_dir)):
        if skip and name.startswith(skip):
            continue
        result = compare(os.path.join(serial_dir, name), os.path.join(parallel_dir, name))
        ok = result is not None and result[0] <= MEAN and result[1] <= SEAM and \
            result[2] >= COVERED
        if result is None:
            print('%s %s: picture missing or of another size' % (label, name))
        else:
            print('%s %s: mean %.4f, worst row/column %.4f, covered %.2f %s' %
                  (label, name, result[0], result[1], result[2], 'ok' if ok else 'FAILED'))
        passed += 1 if ok else 0
        failed += 0 if ok else 1
    if passed + failed == 0:
        print('%s: no serial pictures to compare with' % label)
        failed = 1
    print('%s: %d passed, %d failed' % (label, passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
