#include "platform/io_error.h"

#include "platform/system.h"

IoError os_error(int code) {
    return IoError{system_message(code) + " (os error " + std::to_string(code) + ")"};
}
