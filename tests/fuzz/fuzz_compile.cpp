// Fuzzes the compile entry: arbitrary source text through parse, build and
// validate. Rejecting the text with an ExecError (or a FrontendError) is the
// normal outcome; a crash, a sanitizer report, a Panic or any other
// exception escaping is a defect.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/errors.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    try {
        (void)morvane::core::parse_and_validate(source);
    } catch (const morvane::core::engine::ExecError&) {
    } catch (const morvane::frontend::FrontendError&) {
    }
    return 0;
}
