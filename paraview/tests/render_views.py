# pvbatch script: opens a volume with the Kestrel reader, shows it as "Kestrel Volume" in each
# blend mode from three directions (along the axis ParaView splits the pieces on, from either
# side, and one oblique) and saves each picture as OUTDIR/<mode>_<view>.bmp. Prints one line per
# picture with the frame time of a second render. Run the same under mpirun to get the
# distributed pictures.
#   pvbatch render_views.py PLUGIN VOLUME OUTDIR
import math
import os
import sys
import time

from paraview.simple import *

plugin, volume_path, outdir = sys.argv[1:4]
LoadPlugin(plugin, ns=globals())
os.makedirs(outdir, exist_ok=True)

reader = KestrelVolumeReader(FileName=volume_path)
reader.UpdatePipeline()
info = reader.GetDataInformation()
lo, hi = reader.PointData['Scalars'].GetRange()
span = hi - lo
extent = info.GetExtent()
bounds = info.GetBounds()

view = CreateRenderView()
view.ViewSize = [256, 256]
view.OrientationAxesVisibility = 0
view.Background = [0.0, 0.0, 0.0]
view.UseColorPaletteForBackground = 0

display = Show(reader, view)
display.SetRepresentationType('Kestrel Volume')
ColorBy(display, ('POINTS', 'Scalars'))
colours = GetColorTransferFunction('Scalars')
colours.RGBPoints = [lo, 0.0, 0.0, 0.0, lo + 0.3 * span, 0.9, 0.4, 0.2, hi, 1.0, 1.0, 0.9]
opacity = GetOpacityTransferFunction('Scalars')
opacity.Points = [lo, 0.0, 0.5, 0.0, lo + 0.1 * span, 0.0, 0.5, 0.0,
                  lo + 0.5 * span, 0.1, 0.5, 0.0, hi, 0.6, 0.5, 0.0]
display.ScalarOpacityFunction = opacity
display.ScalarOpacityUnitDistance = 1.0
display.Ambient, display.Diffuse, display.Specular, display.SpecularPower = 0.3, 0.7, 0.2, 10.0
display.IsosurfaceValues = [lo + 0.35 * span]

# The axis the extent translator halves first: the longest in points, ties going to z, then y.
points = [extent[2 * a + 1] - extent[2 * a] + 1 for a in range(3)]
split = max((points[a], a) for a in range(3))[1]
centre = [0.5 * (bounds[2 * a] + bounds[2 * a + 1]) for a in range(3)]
radius = 0.5 * math.sqrt(sum((bounds[2 * a + 1] - bounds[2 * a]) ** 2 for a in range(3)))
along = [1.0 if a == split else 0.0 for a in range(3)]
oblique = [0.8 if a == split else 0.5 for a in range(3)]
views = {'plus': along, 'minus': [-x for x in along], 'oblique': oblique}
modes = {'composite': ('Composite', 1), 'mip': ('Maximum Intensity', 0),
         'iso': ('Isosurface', 1)}

for mode_name, (blend, shade) in modes.items():
    display.KestrelBlendMode = blend
    display.Shade = shade
    for view_name, direction in views.items():
        norm = math.sqrt(sum(x * x for x in direction))
        view.CameraFocalPoint = centre
        view.CameraPosition = [centre[a] + 3.0 * radius * direction[a] / norm for a in range(3)]
        view.CameraViewUp = [0.0, 0.0, 1.0] if split != 2 else [0.0, 1.0, 0.0]
        view.CameraViewAngle = 30.0
        view.CameraParallelProjection = 0
        Render(view)
        start = time.perf_counter()
        Render(view)
        seconds = time.perf_counter() - start
        SaveScreenshot(os.path.join(outdir, '%s_%s.bmp' % (mode_name, view_name)), view,
                       ImageResolution=[256, 256])
        print('frame %s %s %s %.3f s' % (os.path.basename(volume_path), mode_name, view_name,
                                         seconds))
