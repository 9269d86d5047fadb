// The class Evidence: observations supplied at run time.
//
// Python code fills an Evidence with edge and attribute observations for one
// belief model; a run made with it merges them into the program's evidence
// blocks on that model. It is the module's only class with a constructor and
// the only one whose content changes after creation.
//
// A run reads the observations without the interpreter lock, so while a run
// holds an Evidence (a SharedBorrow is alive) every change to it is refused
// with RuntimeError "Already borrowed".
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "frontend/ast.hpp"

namespace morvane::python {

class PyEvidence {
public:
    PyEvidence(std::string name, std::string model)
        : name_(std::move(name)), model_(std::move(model)) {}

    const std::string& name() const noexcept { return name_; }
    const std::string& model() const noexcept { return model_; }
    const std::vector<frontend::ast::ObserveStmt>& observations() const noexcept {
        return observations_;
    }

    // Raises "Already borrowed" while a SharedBorrow is alive. The methods
    // that change the object check before they convert their arguments.
    void check_not_borrowed() const;

    // Both check first.
    void add(frontend::ast::ObserveStmt observation);
    void clear();

    // Held by a run from before it releases the interpreter lock until after
    // it has taken the lock back: create and destroy it with the lock held.
    class SharedBorrow {
    public:
        explicit SharedBorrow(PyEvidence& evidence) : evidence_(evidence) {
            ++evidence_.shared_borrows_;
        }
        ~SharedBorrow() { --evidence_.shared_borrows_; }
        SharedBorrow(const SharedBorrow&) = delete;
        SharedBorrow& operator=(const SharedBorrow&) = delete;

    private:
        PyEvidence& evidence_;
    };

private:
    std::string name_;
    std::string model_;
    std::vector<frontend::ast::ObserveStmt> observations_;
    size_t shared_borrows_ = 0;  // changed only with the interpreter lock held
};

// class Evidence
void register_evidence_class(pybind11::module_& module);

}  // namespace morvane::python
