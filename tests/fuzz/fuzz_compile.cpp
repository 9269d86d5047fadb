// Fuzzes the compile entry: arbitrary source text through parse, build and
// validate. Rejecting the text with a Parse or Validation error (or a
// FrontendError) is the normal outcome; compiling reports nothing else, so
// any Internal error is a defect, as are a crash, a sanitizer report, a
// Panic and any other exception escaping (see fuzz_outcome.hpp).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/engine/errors.hpp"
#include "core/parse_and_validate.hpp"
#include "frontend/errors.hpp"
#include "tests/fuzz/fuzz_outcome.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    try {
        morvane::fuzz::guarded([&] { (void)morvane::core::parse_and_validate(source); });
    } catch (const morvane::core::engine::ExecError& error) {
        morvane::fuzz::check_error(error, morvane::fuzz::kNone);
    } catch (const morvane::frontend::FrontendError&) {
    }
    return 0;
}
