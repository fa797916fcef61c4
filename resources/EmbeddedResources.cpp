#include "EmbeddedResources.h"

#include "EmbeddedResourceTable.h"

namespace tq {
namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (lowerAscii(*a) != lowerAscii(*b)) return false;
        if (*a == '\0') return true;
    }
}

}  // namespace

EmbeddedResource findBitmapResource(int id) {
    if (id <= 0) return {nullptr, 0};
    for (std::size_t i = 0; i < detail::kEmbeddedResourceCount; ++i) {
        const auto& entry = detail::kEmbeddedResources[i];
        if (entry.name == nullptr && entry.id == id) return {entry.data, entry.size};
    }
    return {nullptr, 0};
}

EmbeddedResource findNamedResource(const char* name) {
    if (name == nullptr) return {nullptr, 0};
    for (std::size_t i = 0; i < detail::kEmbeddedResourceCount; ++i) {
        const auto& entry = detail::kEmbeddedResources[i];
        if (entry.name != nullptr && equalIgnoringCase(entry.name, name))
            return {entry.data, entry.size};
    }
    return {nullptr, 0};
}

}  // namespace tq
