// The walk runs down operator and field-access spines in a loop and keeps
// the operands still to check on a stack (see operand_walk.hpp), so neither
// long chains nor nested calls cost machine stack.
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
        walk(root);
        while (!pending_.empty()) {
            const ExprAst* e = pending_.back();
            pending_.pop_back();
            walk(*e);
        }
    }

private:
    void walk(const ExprAst& root) {
        walk_spine(
            root,
            [this](const ExprAst& operand) -> const ExprAst* {
                if (const auto* f = std::get_if<ExprAst::Field>(&operand.node)) {
                    return f->target.get();
                }
                if (const auto* c = std::get_if<ExprAst::Call>(&operand.node)) check_call(*c);
                return nullptr;
            },
            [this](const ExprAst& right) { pending_.push_back(&right); });
    }

    // Any other call has its arguments checked, in order: pushed in reverse.
    void check_call(const ExprAst::Call& call) {
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
        for (size_t i = call.args.size(); i-- > 0;) {
            const ast::CallArg& arg = call.args[i];
            if (const auto* pos = std::get_if<ast::CallArg::Positional>(&arg.node)) {
                pending_.push_back(&pos->value);
            } else {
                pending_.push_back(&std::get<ast::CallArg::Named>(arg.node).value);
            }
        }
    }

    const Site& site_;
    // Operands still to check, the next one last.
    std::vector<const ExprAst*> pending_;
    ArgStack arg_stack_;
};

}  // namespace

void walk_expr(const ast::ExprAst& predicate, const Site& site) {
    PruneChecker(site).check(predicate);
}

}  // namespace morvane::frontend::validate
