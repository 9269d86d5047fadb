// The walk runs down operator and field-access spines in a loop, so long
// chains cost no stack; it recurses only into call arguments.
#include "frontend/validate/prune_checks.hpp"

#include <vector>

#include "frontend/validate/call_args.hpp"
#include "frontend/validate/operand_walk.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::ExprAst;

class PruneChecker {
public:
    explicit PruneChecker(const Site& site) : site_(site) {}

    void check(const ExprAst& root) {
        for_each_operand(root, pending_, [this](const ExprAst& e) -> const ExprAst* {
            if (const auto* f = std::get_if<ExprAst::Field>(&e.node)) return f->target.get();
            if (const auto* c = std::get_if<ExprAst::Call>(&e.node)) check_call(*c);
            return nullptr;
        });
    }

private:
    // Out of line, so that the walk itself keeps a small frame.
    [[gnu::noinline]] void check_call(const ExprAst::Call& call) {
        if (call.name == "weight" || call.name == "prob") {
            const SplitArgs args(arg_stack_, call.args);
            if (args.named_count() != 0 || args.positional_count() != 1) {
                site_.fail("{}(): expected single positional argument", call.name);
            }
            const auto* v = std::get_if<ExprAst::Var>(&args.position(0)->node);
            if (!v || v->name != "edge") {
                site_.fail("{}(): argument must be 'edge' in prune_edges predicate", call.name);
            }
            return;
        }
        for (const ast::CallArg& arg : call.args) {
            if (const auto* pos = std::get_if<ast::CallArg::Positional>(&arg.node)) {
                check(pos->value);
            } else {
                check(std::get<ast::CallArg::Named>(arg.node).value);
            }
        }
    }

    const Site& site_;
    // Right operands of the spines being walked, innermost last.
    std::vector<const ExprAst*> pending_;
    ArgStack arg_stack_;
};

}  // namespace

void walk_expr(const ast::ExprAst& predicate, const Site& site) {
    PruneChecker(site).check(predicate);
}

}  // namespace morvane::frontend::validate
