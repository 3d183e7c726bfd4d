// The process-wide pseudo-random generator: 32-bit linear congruential,
// seeded once at start-up with the UTC time of day in milliseconds.
#pragma once

#include <cstdint>

namespace quillmarsh {

class RandomGenerator {
 public:
  void Seed(uint32_t seed) { seed_ = seed; }
  uint32_t seed() const { return seed_; }

  // A draw in 0 .. range - 1: the high half of the next seed times range.
  uint32_t Below(uint32_t range) {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<uint32_t>((static_cast<uint64_t>(seed_) * range) >> 32);
  }

 private:
  uint32_t seed_ = 0;
};

}  // namespace quillmarsh
