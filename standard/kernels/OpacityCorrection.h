// Opacity correction for a sample distance other than the standard one through a table built once
// per frame, instead of a power per sample: a' = 1 - (1 - a)^e, e = sampleDistance / std distance.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "KestrelExport.h"

// t^e for t in the normal floats below 1, from t's exponent and the top bits of its mantissa:
//   t = m 2^k, m in [1, 2), k = field - 127;  m0 = 1 + i / 128, i the top 7 mantissa bits;
//   t^e = 2^(k e) m0^e (1 + w)^e,  w = (m - m0) / m0 in [0, 1/128),
//   (1 + w)^e ~ 1 + e w + e(e-1)/2 w^2 + e(e-1)(e-2)/6 w^3 (the next term below 1e-8 relative
//   for e in (0, 2], 3e-7 at e = 8).
// Zero, subnormal and non-finite t, t >= 1, and exponents that are not finite and positive take
// std::pow. The device always takes std::pow: indexing a table held in the kernel's by-value
// parameters would move it to per-thread memory.
//
// Layout (1548 bytes): exponent, use flag, three series coefficients, 128 powers m0^e, 128
// inverses 1 / m0, 127 scales 2^(k e) indexed by the exponent field (entry 0 unused).
struct OpacityCorrection {
    static constexpr int kMantissaBits = 7;
    static constexpr int kEntries = 1 << kMantissaBits;
    static constexpr int kFields = 127;  // exponent fields 0 .. 126: t < 1

    float exponent = 1.f;     // e
    bool tabled = false;      // the table holds e (finite, positive)
    float series[3] = {};     // e, e(e-1)/2, e(e-1)(e-2)/6
    float power[kEntries];    // m0^e
    float inverse[kEntries];  // 1 / m0
    float scale[kFields];     // 2^((field - 127) e); 0 where it underflows

    // Fills the table for exponent e (not finite or not above 0: every call takes std::pow).
    void Build(float e) {
        exponent = e;
        tabled = std::isfinite(e) && e > 0.f;
        if (!tabled) return;
        const double ed = double(e);
        series[0] = e;
        series[1] = float(ed * (ed - 1.0) / 2.0);
        series[2] = float(ed * (ed - 1.0) * (ed - 2.0) / 6.0);
        for (int i = 0; i < kEntries; ++i) {
            const double m0 = 1.0 + double(i) / kEntries;
            power[i] = float(std::pow(m0, ed));
            inverse[i] = float(1.0 / m0);
        }
        scale[0] = 0.f;
        for (int field = 1; field < kFields; ++field)
            scale[field] = float(std::exp2(double(field - 127) * ed));
    }

    // 1 - (1 - a)^e for an opacity a; the caller handles a >= 1 and a == 0.
    KESTREL_HOST_DEVICE KESTREL_ALWAYS_INLINE float Apply(float a) const {
        const float t = 1.f - a;
#ifndef __CUDA_ARCH__
        std::uint32_t bits;
        std::memcpy(&bits, &t, sizeof bits);
        const std::uint32_t field = bits >> 23;  // sign clear for t > 0
        if (tabled && field - 1u < std::uint32_t(kFields - 1)) {
            const std::uint32_t i = (bits >> (23 - kMantissaBits)) & (kEntries - 1);
            // m and m0 with the exponent of 1: m - m0 is exact
            const std::uint32_t mBits = (bits & 0x007FFFFFu) | 0x3F800000u;
            const std::uint32_t m0Bits = (i << (23 - kMantissaBits)) | 0x3F800000u;
            float m, m0;
            std::memcpy(&m, &mBits, sizeof m);
            std::memcpy(&m0, &m0Bits, sizeof m0);
            const float w = (m - m0) * inverse[i];
            const float rest = 1.f + w * (series[0] + w * (series[1] + w * series[2]));
            return 1.f - scale[field] * (power[i] * rest);
        }
#endif
        return 1.f - std::pow(t, exponent);
    }
};
