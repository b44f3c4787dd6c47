// Lut1D: the table's allocation and deep copies.
#include "Lut1D.h"

Lut1D::Lut1D() : sampleCount(0), minPos(0.0f), maxPos(1.0f), data(nullptr) {}

Lut1D::~Lut1D() {
    delete[] data;
}

Lut1D::Lut1D(const Lut1D& other) : Lut1D() {
    *this = other;
}

Lut1D& Lut1D::operator=(const Lut1D& other) {
    if (this == &other) return *this;
    // Allocate before releasing, so that a failed allocation leaves this table intact.
    Vector4* copy = nullptr;
    if (other.data != nullptr && other.sampleCount > 0) {
        copy = new Vector4[other.sampleCount];
        for (int32_t i = 0; i < other.sampleCount; ++i)
            copy[i] = other.data[i];
    }
    delete[] data;
    data = copy;
    sampleCount = other.sampleCount;
    minPos = other.minPos;
    maxPos = other.maxPos;
    return *this;
}

void Lut1D::Allocate() {
    delete[] data;
    data = nullptr;
    if (sampleCount > 0) data = new Vector4[sampleCount];  // each (0, 0, 0, 1)
}
