#include "platform/descriptors.h"

void raise_descriptor_limit() {}

std::optional<std::size_t> descriptors_left() {
    return std::nullopt;
}

bool out_of_descriptors() {
    return false;
}
