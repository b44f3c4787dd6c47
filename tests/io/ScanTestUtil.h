// Scan files written by the same libraries the loader reads them with (GDCM, the NIfTI C
// library, teem), from a grid placed in scanner space; and the check that a loaded volume
// holds, voxel for voxel, what that placement says it must.
#pragma once

// First: <dirent.h> declares DT_UNKNOWN, which the NIfTI headers define as a macro.
#include "apps/AppTestUtil.h"

#include <gtest/gtest.h>
#include <nifti2_io.h>
#include <sys/stat.h>
#include <teem/nrrd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "DicomSliceWriter.h"
#include "ScanLoader.h"
#include "volume/SampleTypes.h"

namespace scantest {

// A grid in DICOM's scanner frame (x left, y posterior, z superior; mm): voxel (i, j, k) lies
// at origin + i * step[0] + j * step[1] + k * step[2].
struct Grid {
    int dims[3] = {6, 5, 4};
    double origin[3] = {-3.0, 2.0, 10.0};
    double step[3][3] = {{1, 0, 0}, {0, 2, 0}, {0, 0, 3}};

    void Position(int i, int j, int k, double p[3]) const {
        for (int w = 0; w < 3; ++w)
            p[w] = origin[w] + i * step[0][w] + j * step[1][w] + k * step[2][w];
    }
    double Length(int a) const { return std::sqrt(Dot(step[a], step[a])); }
    static double Dot(const double* a, const double* b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    }
};

// The value stored for a voxel: a function of where it lies, whole for whole coordinates, so
// that any mistake in order, reversal or spacing shows in the values.
inline double PlaceValue(const double p[3]) {
    return p[0] + 20.0 * p[1] + 400.0 * p[2];
}

// Stored samples of `grid`, x fastest: PlaceValue of each voxel's position.
template <typename T>
std::vector<T> GridSamples(const Grid& grid) {
    std::vector<T> samples;
    for (int k = 0; k < grid.dims[2]; ++k)
        for (int j = 0; j < grid.dims[1]; ++j)
            for (int i = 0; i < grid.dims[0]; ++i) {
                double p[3];
                grid.Position(i, j, k, p);
                samples.push_back(T(PlaceValue(p)));
            }
    return samples;
}

inline std::string FormatValue(double value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", value);
    return text;
}

inline double SampleAt(const VolumeData& volume, int x, int y, int z) {
    double value = 0.0;
    const std::size_t index =
        std::size_t(x) + std::size_t(volume.dimensions[0]) *
                             (std::size_t(y) + std::size_t(volume.dimensions[1]) * std::size_t(z));
    kestrel_volume::VisitSampleType(volume.dataType, [&](auto tag) {
        using T = typename decltype(tag)::type;
        value = double(static_cast<const T*>(volume.GetData())[index]);
    });
    return value;
}

// An axis-aligned `grid` loaded as `volume`: its voxels must run along increasing scanner x,
// y, z from the grid's lowest corner, at the grid's spacings, each holding
// slope * PlaceValue + intercept.
inline void ExpectPlacedVolume(const VolumeData& volume, const Grid& grid, double slope,
                               double intercept, double tolerance = 0.0) {
    double lo[3] = {1e30, 1e30, 1e30};
    int dims[3] = {0, 0, 0};
    double spacing[3] = {0, 0, 0};
    for (int a = 0; a < 3; ++a) {
        const int w =
            int(std::max_element(grid.step[a], grid.step[a] + 3,
                                 [](double p, double q) { return std::fabs(p) < std::fabs(q); }) -
                grid.step[a]);
        dims[w] = grid.dims[a];
        spacing[w] = grid.Length(a);
    }
    for (int corner = 0; corner < 8; ++corner) {
        double p[3];
        grid.Position(corner & 1 ? grid.dims[0] - 1 : 0, corner & 2 ? grid.dims[1] - 1 : 0,
                      corner & 4 ? grid.dims[2] - 1 : 0, p);
        for (int w = 0; w < 3; ++w)
            lo[w] = std::min(lo[w], p[w]);
    }
    ASSERT_NE(volume.GetData(), nullptr);
    for (int w = 0; w < 3; ++w) {
        ASSERT_EQ(volume.dimensions[w], dims[w]) << "axis " << w;
        EXPECT_NEAR(volume.spacings[w], spacing[w], 1e-5) << "axis " << w;
    }
    int wrong = 0;
    for (int z = 0; z < dims[2]; ++z)
        for (int y = 0; y < dims[1]; ++y)
            for (int x = 0; x < dims[0]; ++x) {
                const double p[3] = {lo[0] + x * spacing[0], lo[1] + y * spacing[1],
                                     lo[2] + z * spacing[2]};
                const double expected = slope * PlaceValue(p) + intercept;
                if (std::fabs(SampleAt(volume, x, y, z) - expected) > tolerance && wrong++ < 5) {
                    ADD_FAILURE() << "voxel " << x << ", " << y << ", " << z << ": "
                                  << SampleAt(volume, x, y, z) << ", expected " << expected;
                }
            }
    EXPECT_EQ(wrong, 0);
}

inline void WriteText(const std::string& path, const std::string& text) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

using apptest::TempFolder;

struct DicomSeriesLayout {
    std::string uid;
    std::string number = "1";
    double slope = 1.0;
    double intercept = 0.0;
    bool rle = false;            // RLE Lossless instead of uncompressed
    bool monochrome1 = false;    // higher values darker
    std::vector<int> fileOrder;  // file name index of each slice; empty: k
};

// One int16 CT image file per slice of `grid` in `folder`, named by fileOrder and with
// instance numbers that run against the positions; pixel data is PlaceValue.
inline void WriteDicomSeries(const std::string& folder, const Grid& grid,
                             const DicomSeriesLayout& layout) {
    const std::vector<int16_t> samples = GridSamples<int16_t>(grid);
    DicomSlice slice;
    slice.columns = unsigned(grid.dims[0]);
    slice.rows = unsigned(grid.dims[1]);
    for (int w = 0; w < 3; ++w) {
        slice.cosines[w] = grid.step[0][w] / grid.Length(0);
        slice.cosines[3 + w] = grid.step[1][w] / grid.Length(1);
    }
    slice.spacing[0] = grid.Length(0);
    slice.spacing[1] = grid.Length(1);
    slice.slope = layout.slope;
    slice.intercept = layout.intercept;
    slice.seriesUid = layout.uid;
    slice.seriesNumber = std::atoi(layout.number.c_str());
    slice.rle = layout.rle;
    slice.monochrome1 = layout.monochrome1;
    for (int k = 0; k < grid.dims[2]; ++k) {
        grid.Position(0, 0, k, slice.origin);
        slice.instance = grid.dims[2] - k;
        slice.pixels = samples.data() + std::size_t(k) * slice.columns * slice.rows;
        const int name = layout.fileOrder.empty() ? k : layout.fileOrder[std::size_t(k)];
        ASSERT_TRUE(WriteDicomSlice(folder + "/" + layout.uid.substr(layout.uid.size() - 4) + "_" +
                                        std::to_string(name) + ".dcm",
                                    slice));
    }
}

// `grid` in NIfTI's right-anterior-superior frame as an sform (x and y negated), or no
// orientation at all.
// A .hdr path writes a NIfTI-1 pair; otherwise one file, NIfTI-2 when `version2`.
template <typename T>
void WriteNifti(const std::string& path, const Grid& grid, int datatype, double slope,
                double intercept, bool oriented = true, int volumes = 1, bool version2 = false) {
    const int64_t dims[8] = {
        volumes > 1 ? 4 : 3, grid.dims[0], grid.dims[1], grid.dims[2], volumes, 1, 1, 1};
    nifti_image* image = nifti_make_new_nim(dims, datatype, 0);
    ASSERT_NE(image, nullptr);
    std::vector<T> samples;
    for (int v = 0; v < volumes; ++v) {
        const std::vector<T> one = GridSamples<T>(grid);
        for (T s : one)
            samples.push_back(T(s + T(1000 * v)));
    }
    image->data = samples.data();
    for (int a = 0; a < 3; ++a)
        image->pixdim[a + 1] = grid.Length(a);
    image->dx = grid.Length(0);
    image->dy = grid.Length(1);
    image->dz = grid.Length(2);
    image->scl_slope = slope;
    image->scl_inter = intercept;
    image->qform_code = 0;
    image->sform_code = oriented ? 1 : 0;
    const double signs[3] = {-1, -1, 1};
    for (int r = 0; r < 3; ++r) {
        for (int a = 0; a < 3; ++a)
            image->sto_xyz.m[r][a] = signs[r] * grid.step[a][r];
        image->sto_xyz.m[r][3] = signs[r] * grid.origin[r];
    }
    const bool pair = path.size() > 4 && path.compare(path.size() - 4, 4, ".hdr") == 0;
    image->nifti_type = pair       ? NIFTI_FTYPE_NIFTI1_2
                        : version2 ? NIFTI_FTYPE_NIFTI2_1
                                   : NIFTI_FTYPE_NIFTI1_1;
    ASSERT_EQ(nifti_set_filenames(image, path.c_str(), 0, 1), 0);
    nifti_image_write(image);
    image->data = nullptr;
    nifti_image_free(image);
}

// `grid` as NRRD in left-posterior-superior space ("space directions" are the steps), or in
// right-anterior-superior space; `headerPath` ending in .nhdr gets its data detached.
template <typename T>
void WriteNrrd(const std::string& headerPath, const Grid& grid, int type, bool gzip,
               bool rightAnterior = false) {
    std::vector<T> samples = GridSamples<T>(grid);
    Nrrd* nrrd = nrrdNew();
    const size_t sizes[3] = {size_t(grid.dims[0]), size_t(grid.dims[1]), size_t(grid.dims[2])};
    ASSERT_EQ(nrrdWrap_nva(nrrd, samples.data(), type, 3, sizes), 0);
    nrrdSpaceSet(nrrd,
                 rightAnterior ? nrrdSpaceRightAnteriorSuperior : nrrdSpaceLeftPosteriorSuperior);
    const double signs[3] = {rightAnterior ? -1.0 : 1.0, rightAnterior ? -1.0 : 1.0, 1.0};
    double directions[3][NRRD_SPACE_DIM_MAX];
    for (int a = 0; a < 3; ++a) {
        for (int w = 0; w < 3; ++w)
            directions[a][w] = signs[w] * grid.step[a][w];
        nrrd->spaceOrigin[a] = signs[a] * grid.origin[a];
    }
    nrrdAxisInfoSet_nva(nrrd, nrrdAxisInfoSpaceDirection, directions);
    NrrdIoState* state = nrrdIoStateNew();
    nrrdIoStateEncodingSet(state, gzip ? nrrdEncodingGzip : nrrdEncodingRaw);
    ASSERT_EQ(nrrdSave(headerPath.c_str(), nrrd, state), 0);
    nrrdIoStateNix(state);
    nrrdNix(nrrd);
}

}  // namespace scantest
