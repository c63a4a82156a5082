#ifndef QUORVANE_MATH_TTCONVOLUTION_H
#define QUORVANE_MATH_TTCONVOLUTION_H

#include <vector>

#include "hebase/CTile.h"
#include "math/CTileTensor.h"

namespace quorvane {

/// Two-dimensional convolution, without padding, of an image packed one pixel
/// per tile ([a/1, b/1, n/s]: rows, columns, n channels inside the tile) with
/// a bank of e filters [c/1, d/1, e/1, *f/s] (each weight duplicated over f >= n
/// slots) and optional biases [1/1, 1/1, e/1, *g/s]. The output is
/// [1/1, K/1, n/s] with K = outRows * outCols * e; its tile
/// (i * outCols + j) * e + m holds output row i, column j of filter m.
class TTConvolution
{
public:
  /// The convolution with the strides; biases may be null. The filters must be
  /// at the image's chain index and the biases one below, unless the backend
  /// manages chain indexes itself.
  static CTileTensor getConvolution(const CTileTensor& image, const CTileTensor& filters,
                                    const CTileTensor* biases, int strideRows, int strideCols);

  /// Wraps the result tiles in the output shape. Channel slots beyond n are
  /// unknown when the filters or biases fill more of them, or when the image
  /// or the filters already had unknown ones there.
  static CTileTensor buildConvolutionOutput(const CTileTensor& image,
                                            const std::vector<CTile>& results,
                                            const CTileTensor& filters,
                                            const CTileTensor* biases = nullptr);

private:
  /// The shape, stride, size, context and chain-index checks, before any work.
  static void validateConvolutionInputs(const CTileTensor& image, const CTileTensor& filters,
                                        const CTileTensor* biases, int strideRows,
                                        int strideCols);
};

} // namespace quorvane

#endif
