// Straightforward column-by-column formulations of the decorrelation steps,
// written from the textbook description one loop per formula. The production
// code walks rows instead; these prove it changes no bit.
#ifndef HVT_TESTS_CORE_DECOR_REFERENCE_H
#define HVT_TESTS_CORE_DECOR_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace decor_ref {

void Standardize(std::vector<double>& a, std::size_t rows, std::size_t cols,
                 std::vector<double>& mean, std::vector<double>& sigma);

// 1 success, -1 stopped or not converged. stop() is asked where the
// production code polls its observer.
int Svd(std::vector<double>& a, std::size_t lda, std::vector<double>& v,
        std::size_t ldv, std::vector<double>& w, std::size_t m, std::size_t n,
        bool wantU, bool wantV, int& failIndex,
        const std::function<bool()>& stop = {});

void PermuteColumns(std::vector<double>& m, const std::vector<std::int32_t>& q,
                    std::size_t rows, std::size_t cols);

}  // namespace decor_ref

#endif  // HVT_TESTS_CORE_DECOR_REFERENCE_H
