#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "registers/Scope.h"

namespace vindelor::app {

// The rows the scope shows, whichever store holds them: every row of a free run, a triggered
// capture, or the recent history while a trigger is awaited. Rows rise in time.
class ScopeRows {
  public:
    ScopeRows() = default;
    ScopeRows(const std::vector<registers::ScopeRow>& rows) : vector_(&rows) {}
    ScopeRows(const std::deque<registers::ScopeRow>& rows) : deque_(&rows) {}

    std::size_t size() const { return vector_ ? vector_->size() : deque_ ? deque_->size() : 0; }
    bool empty() const { return size() == 0; }
    const registers::ScopeRow& operator[](std::size_t i) const {
        return vector_ ? (*vector_)[i] : (*deque_)[i];
    }
    const registers::ScopeRow& back() const { return (*this)[size() - 1]; }

    // The first row at or after the time; size() when there is none.
    std::size_t lowerBound(double seconds) const {
        std::size_t lo = 0;
        std::size_t hi = size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if ((*this)[mid].seconds < seconds)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    // The first row after the time; size() when there is none.
    std::size_t upperBound(double seconds) const {
        std::size_t lo = 0;
        std::size_t hi = size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if ((*this)[mid].seconds <= seconds)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    // The row nearest the time; size() when there are none.
    std::size_t nearest(double seconds) const {
        if (empty()) return 0;
        std::size_t i = lowerBound(seconds);
        if (i == size() ||
            (i > 0 && seconds - (*this)[i - 1].seconds < (*this)[i].seconds - seconds))
            --i;
        return i;
    }

  private:
    const std::vector<registers::ScopeRow>* vector_ = nullptr;
    const std::deque<registers::ScopeRow>* deque_ = nullptr;
};

}  // namespace vindelor::app
