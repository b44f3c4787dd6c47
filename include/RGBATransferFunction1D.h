// The editable transfer function of full volume rendering: control points (scalar position and
// RGBA colour) from which a Lut1D is resampled, piecewise linearly, when it is next read.
#pragma once

#include <vector>

#include "KestrelExport.h"
#include "Lut1D.h"
#include "Vector.h"

// One control point, kept by value in the point list.
struct ControlPoint {
    float position;  ///< table units: 0 is entry 0, sampleCount - 1 the last entry (at the time
                     ///< the point was added)
    Vector4 rgba;    ///< colour: red, green, blue, opacity
};

// Points are kept sorted by position (equal positions in order of insertion). A point's scalar
// value is converted to table units once, when it is added:
//   position = (value - minPos) / (maxPos - minPos) (sampleCount - 1),
// so changing the range or the table size later keeps every point at its place in the table; only
// the scalar value GetPos reports for it changes.
//
// The table is rebuilt lazily: every change sets `dirty`, and the next GetLut1D / GetData (or a
// scene's per-frame Update) rebuilds it. The rebuilt table is the piecewise-linear curve through
// the points with an implicit transparent black stop at entry 0 before the first point and at the
// last entry after the last point; with no points it is all zeros.
//
// Ownership: owns its table and its point list. A copy is deep: it gets its own table and points
// with the same values (and the same dirty state), so edits of one never show in the other.
//
// Caller errors that are ignored: RemovePoint / SetRGBAValue with an index outside
// 0 .. GetPointCount() - 1 (nothing changes, dirty stays as it was); GetPos / GetValue with such
// an index return 0 and (0, 0, 0, 0). minPos equal to maxPos, and GetPos with a table of one
// entry, divide by zero. Single-threaded: no edit may overlap a frame that reads the table.
class KESTREL_SCENE_API RGBATransferFunction1D {
public:
    Lut1D lut;                          ///< the table: 256 entries over 0 .. 256 by default
    std::vector<ControlPoint>* points;  ///< sorted control points; owned; empty initially
    bool dirty;                         ///< the table does not reflect the points; true initially

    RGBATransferFunction1D();
    virtual ~RGBATransferFunction1D();
    RGBATransferFunction1D(const RGBATransferFunction1D& other);
    RGBATransferFunction1D& operator=(const RGBATransferFunction1D& other);

    /// Adds a point at scalar value `pos` after every point at an equal or smaller position;
    /// returns the index it now has.
    int AddPoint(float pos, Vector4 rgba);
    void RemovePoint(int index);
    void RemoveAllPoints();
    /// Replaces the colour of point `index`; its position stays.
    void SetRGBAValue(int index, Vector4 rgba);
    int GetPointCount() const;
    /// Scalar value of point `index`: position / (sampleCount - 1) (maxPos - minPos) + minPos.
    float GetPos(int index) const;
    Vector4 GetValue(int index) const;

    /// Resizes (and reallocates) the table; the points keep their table positions.
    void SetSampleNumber(int count);
    int GetSampleNumber() const;
    void SetMinPos(float minPos);
    float GetMinPos() const;
    void SetMaxPos(float maxPos);
    float GetMaxPos() const;

    /// The table, rebuilt first if out of date.
    const Lut1D& GetLut1D();
    /// The table's entries, rebuilt first if out of date.
    Vector4* GetData();

protected:
    /// Rebuilds the table if it is out of date.
    virtual void Update();

private:
    void _update();
};
