#include "picker/Templates/Output.h"

#include <algorithm>

namespace Templates {

void Output::grow(size_t size) {
    const size_t need = length_ + size;
    const size_t capacity = text_.capacity();
    size_t target;
    if (need <= capacity) {
        target = handedOut_ ? std::min(capacity, std::max(need, text_.size() + chunk_)) : capacity;
    } else {
        target = std::max(need, 2 * capacity);
    }
    chunk_ = std::min(2 * chunk_, kLastChunk);
    text_.resize(target);
}

}  // namespace Templates
