// TFEmptySpace: the running opacity sums of a table and their deep copies.
#include "TFEmptySpace.h"

TFEmptySpace::TFEmptySpace() : sampleCount(0), minPos(0.0f), maxPos(0.0f), alphaSum(nullptr) {}

TFEmptySpace::~TFEmptySpace() {
    delete[] alphaSum;
}

TFEmptySpace::TFEmptySpace(const TFEmptySpace& other) : TFEmptySpace() {
    *this = other;
}

TFEmptySpace& TFEmptySpace::operator=(const TFEmptySpace& other) {
    if (this == &other) return *this;
    float* copy = nullptr;
    if (other.alphaSum != nullptr) {
        const int32_t count = other.sampleCount > 0 ? other.sampleCount + 1 : 1;
        copy = new float[count];
        for (int32_t i = 0; i < count; ++i)
            copy[i] = other.alphaSum[i];
    }
    delete[] alphaSum;
    alphaSum = copy;
    sampleCount = other.sampleCount;
    minPos = other.minPos;
    maxPos = other.maxPos;
    return *this;
}

void TFEmptySpace::CalculateTFEmptySpace(const Lut1D* lut) {
    if (lut == nullptr) return;
    const int32_t count = lut->sampleCount > 0 ? lut->sampleCount : 0;
    float* sums = new float[count + 1];
    // alphaSum[i + 1] = alphaSum[i] + opacity of entry i; a table never allocated is transparent.
    float sum = 0.0f;
    for (int32_t i = 0; i < count; ++i) {
        sums[i] = sum;
        if (lut->data != nullptr) sum += lut->data[i].w;
    }
    sums[count] = sum;
    delete[] alphaSum;
    alphaSum = sums;
    sampleCount = lut->sampleCount;
    minPos = lut->minPos;
    maxPos = lut->maxPos;
}

bool TFEmptySpace::RangeIsVisible(float lo, float hi) const {
    if (alphaSum == nullptr || sampleCount < 1) return false;
    return TFRangeTest(*this).RangeIsVisible(lo, hi);
}
