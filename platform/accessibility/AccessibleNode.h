#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelora::accessibility {

// One node of an application's accessibility tree, for walking menus.
class AccessibleNode {
public:
    virtual ~AccessibleNode() = default;

    // Names the remote object (bus name and path): two nodes with one identity are one.
    virtual std::string identity() const = 0;
    virtual bool isMenuItem() = 0;
    virtual std::optional<std::string> name() = 0;
    // ENABLED and SENSITIVE.
    virtual bool isEnabled() = 0;
    // Key binding of the first action as the toolkit writes it ("Ctrl+V",
    // "<Alt>e;<Alt>e:p;<Control>v"); none without an action.
    virtual std::optional<std::string> firstActionKeyBinding() = 0;
    virtual std::vector<std::unique_ptr<AccessibleNode>> children() = 0;
    // Performs the first action; true when the toolkit reports success.
    virtual bool pressFirstAction() = 0;
};

}  // namespace pelora::accessibility
