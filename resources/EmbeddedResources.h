#pragma once

#include <cstddef>

namespace tq {

// Bytes of one PNG image compiled into the library. Both fields are zero when there is none.
struct EmbeddedResource {
    const unsigned char* data;
    std::size_t size;
};

// PNG bytes of the numbered bitmap `id` (128..167, 990..995); {nullptr, 0} when there is none.
// [any thread]
EmbeddedResource findBitmapResource(int id);

// PNG bytes of the named resource of type "DATA" ("bmp00158.png", "bmp00159.png"); the name is
// compared without regard to letter case. {nullptr, 0} for an unknown or null name. [any thread]
EmbeddedResource findNamedResource(const char* name);

}  // namespace tq
