// Every vector level of the row kernels against the scalar kernels, bit for
// bit, on the levels this processor has.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernels/directional_filter.h"
#include "denoise/pyramid.h"
#include "denoise/sharpen.h"
#include "framework/simd.h"
#include "image/sample_conversion.h"
#include "support/engine_fixture.h"

namespace veltrane {
namespace {

using testsupport::EngineTest;
using testsupport::Lcg;

std::vector<SimdLevel> vectorLevels() {
  std::vector<SimdLevel> levels;
  for (SimdLevel l : {SimdLevel::sse2, SimdLevel::avx2, SimdLevel::avx512})
    if (cpuSupports(l)) levels.push_back(l);
  return levels;
}

enum class Content { photo, sixteenBit, rangeEnds, flat, outOfRange };

// Pixel values of the kinds the kernels meet: fractional values as from
// 32-bit input, 16-bit steps, only 0 and 255, one flat value, and values
// beyond the range as a restored level can hold. Margins mirrored.
void fill(cspaceBuffer& b, Content content, std::uint32_t seed) {
  Lcg rng(seed);
  for (std::int32_t y = 0; y < b.height; ++y)
    for (std::int32_t x = 0; x < b.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const float r = rng.next01();
        float v = 0.0f;
        switch (content) {
          case Content::photo:
            v = 100.0f + 60.0f * static_cast<float>((x / 5 + y / 4) % 2) + 30.0f * r;
            break;
          case Content::sixteenBit:
            v = workingFrom16(static_cast<std::uint16_t>(r * 32768.0f));
            break;
          case Content::rangeEnds:
            v = r < 0.5f ? 0.0f : 255.0f;
            break;
          case Content::flat:
            v = 77.25f;
            break;
          case Content::outOfRange:
            v = -60.0f + 380.0f * r;
            break;
        }
        b.at(x, y)[c] = v;
      }
  b.marginsValid = 0;
  b.mirrorMargins();
}

// Whole buffers (margins included) of two results are the same bits.
bool sameBits(const cspaceBuffer& a, const cspaceBuffer& b) {
  return std::memcmp(a.data, b.data, static_cast<std::size_t>(a.sizeBytes)) == 0;
}

class SimdKernels : public EngineTest {
 protected:
  // Runs `kernel(level, image, result, weights, first, end)` at the scalar
  // level and at every vector level on the same inputs and compares the
  // results and weights; rows first..end of sizes that leave partial vectors.
  template <typename Kernel>
  void compareLevels(const Kernel& kernel) {
    const std::int32_t sizes[][2] = {{25, 25}, {1, 7}, {3, 9}, {16, 5}, {17, 6}, {33, 12}, {61, 30}};
    const Content contents[] = {Content::photo, Content::sixteenBit, Content::rangeEnds,
                                Content::flat, Content::outOfRange};
    std::uint32_t seed = 1;
    for (const auto& size : sizes)
      for (Content content : contents) {
        const std::int32_t w = size[0], h = size[1];
        cspaceBuffer image = makeBuffer(w, h), weights = makeBuffer(w, h);
        fill(image, content, seed++);
        fill(weights, Content::outOfRange, seed++);
        weights.mirrorMargins();
        const std::vector<float> weightsIn = testsupport::innerPixels(weights);
        const std::int32_t bands[][2] = {{0, h}, {h / 3, h - h / 4}};
        for (const auto& band : bands) {
          cspaceBuffer expected = makeBuffer(w, h), expectedW = makeBuffer(w, h);
          expected.copyFrom(image);
          expectedW.copyFrom(weights);
          kernel(SimdLevel::scalar, image, expected, expectedW, band[0], band[1]);
          for (SimdLevel level : vectorLevels()) {
            cspaceBuffer got = makeBuffer(w, h), gotW = makeBuffer(w, h);
            got.copyFrom(image);
            gotW.copyFrom(weights);
            kernel(level, image, got, gotW, band[0], band[1]);
            EXPECT_TRUE(sameBits(expected, got))
                << simdLevelName(level) << " " << w << "x" << h << " content "
                << static_cast<int>(content) << " rows " << band[0] << ".." << band[1];
            EXPECT_TRUE(sameBits(expectedW, gotW)) << simdLevelName(level) << " weights";
            got.release();
            gotW.release();
          }
          expected.release();
          expectedW.release();
        }
        image.release();
        weights.release();
      }
  }
};

TEST_F(SimdKernels, TheMachineOffersTheLevelsItReports) {
  EXPECT_TRUE(cpuSupports(SimdLevel::scalar));
  EXPECT_TRUE(cpuSupports(activeSimdLevel()));
  EXPECT_EQ(parseSimdLevel("avx2"), SimdLevel::avx2);
  EXPECT_EQ(parseSimdLevel("AVX2"), std::nullopt);
#if defined(__x86_64__) || defined(__SSE2__)
  EXPECT_TRUE(cpuSupports(SimdLevel::sse2));  // every build's baseline
#endif
}

TEST_F(SimdKernels, SmoothAreaFilterGivesTheScalarBits) {
  for (bool finest : {true, false})
    for (float T : {0.00001f, 9.0f, 60.0f})
      compareLevels([&](SimdLevel level, const cspaceBuffer& in, cspaceBuffer& out,
                        cspaceBuffer& weights, std::int32_t first, std::int32_t end) {
        smoothAreaDenoiseRows(in, out, weights, T, finest, 0.5f, first, end, level);
      });
}

TEST_F(SimdKernels, DirectionalFilterGivesTheScalarBits) {
  for (bool withWeights : {true, false})
    for (float T : {0.00001f, 25.0f})
      compareLevels([&](SimdLevel level, const cspaceBuffer& in, cspaceBuffer& out,
                        cspaceBuffer& weights, std::int32_t first, std::int32_t end) {
        directionalDenoiseRows(in, out, withWeights ? &weights : nullptr, T, withWeights, 0.7f,
                               0.99f, first, end, level);
      });
}

TEST_F(SimdKernels, SharpeningGivesTheScalarBits) {
  for (bool lab : {false, true})
    compareLevels([&](SimdLevel level, const cspaceBuffer& in, cspaceBuffer& out,
                      cspaceBuffer& weights, std::int32_t first, std::int32_t end) {
      sharpenRows(in, out, weights, 0.3f, lab ? 0.0f : 1.7f, lab, first, end, 0, level);
    });
}

TEST_F(SimdKernels, GuidedExpansionGivesTheScalarBits) {
  // The whole level at once; the coarse level is made the same way on every call.
  for (Content coarseContent : {Content::photo, Content::rangeEnds, Content::flat})
    compareLevels([&](SimdLevel level, const cspaceBuffer& in, cspaceBuffer& out, cspaceBuffer&,
                      std::int32_t, std::int32_t) {
      cspaceBuffer guide = makeBuffer(in.width, in.height);
      guide.copyFrom(in);
      guide.marginsValid = 1;
      cspaceBuffer coarse = makeBuffer(halfSize(in.width), halfSize(in.height));
      fill(coarse, coarseContent, 99);
      expandImageGuided(coarse, out, guide, level);
      coarse.release();
      guide.release();
    });
}

}  // namespace
}  // namespace veltrane
