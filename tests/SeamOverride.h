// Replaces one of the product's seams (a plain function pointer or setting)
// for the life of the object, and puts the previous value back afterwards.
#pragma once

namespace quenvar::testing {

template <typename T>
class SeamOverride {
public:
    SeamOverride(T& seam, T value) : seam_(seam), saved_(seam) { seam_ = value; }
    ~SeamOverride() { seam_ = saved_; }
    SeamOverride(const SeamOverride&) = delete;
    SeamOverride& operator=(const SeamOverride&) = delete;

private:
    T& seam_;
    T saved_;
};

}  // namespace quenvar::testing
