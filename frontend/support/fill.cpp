#include "frontend/support/fill.hpp"

namespace morvane::support::detail {

std::string_view append_until_hole(std::string& out, std::string_view tmpl) {
    const size_t hole = tmpl.find("{}");
    if (hole == std::string_view::npos) {
        out += tmpl;
        return {};
    }
    out += tmpl.substr(0, hole);
    return tmpl.substr(hole + 2);
}

}  // namespace morvane::support::detail
