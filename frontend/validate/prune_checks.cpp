// The walk runs down operator and field-access spines in a loop, so long
// chains cost no stack; it recurses only into call arguments.
#include "frontend/validate/prune_checks.hpp"

#include <vector>

#include "frontend/support/fill.hpp"
#include "frontend/validate/call_args.hpp"

namespace morvane::frontend::validate {
namespace {

using ast::ExprAst;
using support::fill;

class PruneChecker {
public:
    explicit PruneChecker(const Site& site) : site_(site) {}

    void check(const ExprAst& root) {
        const size_t base = pending_.size();
        const ExprAst* e = &root;
        for (;;) {
            if (const auto* b = std::get_if<ExprAst::Binary>(&e->node)) {
                pending_.push_back(b->right.get());
                e = b->left.get();
                continue;
            }
            if (const auto* u = std::get_if<ExprAst::Unary>(&e->node)) {
                e = u->expr.get();
                continue;
            }
            if (const auto* f = std::get_if<ExprAst::Field>(&e->node)) {
                e = f->target.get();
                continue;
            }
            if (const auto* c = std::get_if<ExprAst::Call>(&e->node)) check_call(*c);
            if (pending_.size() == base) return;
            e = pending_.back();
            pending_.pop_back();
        }
    }

private:
    void check_call(const ExprAst::Call& call) {
        if (call.name == "weight" || call.name == "prob") {
            const SplitArgs args(call.args);
            if (!args.named().empty() || args.positional().size() != 1) {
                site_.fail(fill("{}(): expected single positional argument", call.name));
            }
            const auto* v = std::get_if<ExprAst::Var>(&args.position(0)->node);
            if (!v || v->name != "edge") {
                site_.fail(
                    fill("{}(): argument must be 'edge' in prune_edges predicate", call.name));
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
};

}  // namespace

void walk_expr(const ast::ExprAst& predicate, const Site& site) {
    PruneChecker(site).check(predicate);
}

}  // namespace morvane::frontend::validate
