// The three-component copies behind the volume classes' Get/Set accessor pairs.
#pragma once

// Copies from[0..2] to to[0..2]; a null pointer on either side copies nothing (the accessors
// ignore null arguments).
template <typename T>
inline void CopyTriple(const T* from, T* to) {
    if (from == nullptr || to == nullptr) return;
    for (int i = 0; i < 3; ++i)
        to[i] = from[i];
}
