#pragma once

#include <cstddef>

// The table written by the resource embedder at build time. Internal to tq_resources.
namespace tq::detail {

struct EmbeddedResourceEntry {
    int id;            // bitmap number, or 0 for a named resource
    const char* name;  // resource name for named resources, nullptr for numbered ones
    const unsigned char* data;
    std::size_t size;
};

extern const EmbeddedResourceEntry kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

}  // namespace tq::detail
