// The edits of the viewer's transfer-function editor, without any drawing: the value histogram
// the curves are drawn over, finding the point under the pointer, and moving a point.
#pragma once

#include <vector>

#include "Vector.h"

class RGBATransferFunction1D;
class VolumeData;

// Counts of the volume's samples in `bins` equal bins over [low, high] (values outside, and
// non-finite ones, are not counted; high itself falls in the last bin).
std::vector<double> ValueHistogram(VolumeData& volume, double low, double high, int bins);

// The index of the control point nearest to (value, alpha) within the given distances along
// each axis (a box around the pointer), or -1.
int PointNear(const RGBATransferFunction1D& function, float value, float alpha, float valueRadius,
              float alphaRadius);

// Moves point `index` to scalar `value` with opacity `alpha` (clamped to [0, 1] and to the
// function's range), keeping its colour; returns its new index (the points stay sorted).
int MovePoint(RGBATransferFunction1D& function, int index, float value, float alpha);

// The table's colour at scalar `value` (linear between entries; transparent black outside).
Vector4 ColourAt(RGBATransferFunction1D& function, float value);
