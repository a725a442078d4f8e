#pragma once

// The file-type modules of the content carver under the names that the
// signature table uses. All names of one module share one object, which lives
// as long as any name holds it.

#include "cbr/FileModule.h"
#include "core/Ownership.h"

#include <initializer_list>
#include <map>
#include <string>

namespace cbr {

class FileModuleRegistry {
public:
    using Modules = std::map<std::string, SharedPtr<FileModule>>;

    enum Contents { ALL_MODULES, NO_MODULES };

    // Every module of the program, each under all of its names; NO_MODULES gives
    // an empty registry to be filled with add (tests, tools).
    explicit FileModuleRegistry(Contents contents = ALL_MODULES);

    // A second add under the same name replaces the first.
    void add(const std::string& name, const SharedPtr<FileModule>& module);
    // One module under several names, in order.
    void add(std::initializer_list<const char*> names, const SharedPtr<FileModule>& module);
    // Null when no module has that name; names are case-sensitive.
    FileModule* find(const std::string& name) const;

    const Modules& modules() const { return modules_; }

private:
    Modules modules_;
};

// The one table of the program's modules (used by the default constructor).
void registerFileModules(FileModuleRegistry& registry);

} // namespace cbr
