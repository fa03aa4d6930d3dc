#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility/AccessibilityDesktop.h"

namespace pelora::testing {

// A text field held in memory, with switches for the ways real fields misbehave.
struct FakeField {
    std::int32_t pid = 4242;
    std::u16string value;
    std::optional<accessibility::UnitRange> selection = accessibility::UnitRange{0, 0};
    std::optional<std::string> placeholder;
    bool editable = true;
    bool password = false;
    bool acceptsWrites = true;      // false: writes answer success and change nothing
    bool insertFails = false;       // the next insertText answers false (once)
    bool readBackFails = false;     // reads fail once anything was written
    std::map<std::int64_t, accessibility::ScreenBox> characterBoxes;
    std::optional<accessibility::ScreenBox> frameBox;
    std::optional<accessibility::ScreenBox> selectionBox;
    int writes = 0;
    std::int64_t unitsRead = 0;     // how much text the injector read
};

class FakeTextElement final : public accessibility::TextElement {
public:
    explicit FakeTextElement(std::shared_ptr<FakeField> field) : f_(std::move(field)) {}
    std::int32_t processIdentifier() const override { return f_->pid; }
    bool isEditable() override { return f_->editable; }
    bool isPasswordText() override { return f_->password; }
    std::optional<std::int64_t> length() override {
        if (f_->password || unreadable()) return std::nullopt;
        return static_cast<std::int64_t>(f_->value.size());
    }
    std::optional<std::u16string> text(std::int64_t a, std::int64_t b) override {
        if (f_->password || unreadable()) return std::nullopt;
        const auto n = static_cast<std::int64_t>(f_->value.size());
        a = std::clamp<std::int64_t>(a, 0, n);
        b = std::clamp<std::int64_t>(b, a, n);
        f_->unitsRead += b - a;
        return f_->value.substr(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a));
    }
    std::optional<accessibility::UnitRange> selection() override { return f_->selection; }
    std::optional<std::string> placeholder() override { return f_->placeholder; }
    bool deleteText(std::int64_t a, std::int64_t b) override {
        ++f_->writes;
        if (!f_->acceptsWrites) return true;
        f_->value.erase(static_cast<std::size_t>(a), static_cast<std::size_t>(b - a));
        return true;
    }
    bool insertText(std::int64_t at, std::u16string_view t) override {
        ++f_->writes;
        if (f_->insertFails) {
            f_->insertFails = false;
            return false;
        }
        if (!f_->acceptsWrites) return true;
        f_->value.insert(static_cast<std::size_t>(at), t);
        return true;
    }
    bool setCaret(std::int64_t offset) override {
        f_->selection = accessibility::UnitRange{offset, 0};
        return true;
    }
    std::optional<accessibility::ScreenBox> characterBox(std::int64_t offset) override {
        if (auto it = f_->characterBoxes.find(offset); it != f_->characterBoxes.end()) return it->second;
        return accessibility::ScreenBox{0, 0, 0, 0};
    }
    std::optional<accessibility::ScreenBox> rangeBox(std::int64_t, std::int64_t) override { return f_->selectionBox; }
    std::optional<accessibility::ScreenBox> frame() override { return f_->frameBox; }

private:
    bool unreadable() const { return f_->readBackFails && f_->writes > 0; }
    std::shared_ptr<FakeField> f_;
};

// A menu tree node; children may point back up (cycles) or be made on demand (huge trees).
struct FakeMenuNode {
    std::string id;
    std::string name;
    bool menuItem = false;
    bool enabled = true;
    std::optional<std::string> binding;
    std::vector<std::shared_ptr<FakeMenuNode>> children;
    std::function<std::vector<std::shared_ptr<FakeMenuNode>>()> makeChildren;
    int presses = 0;
    int* visits = nullptr;
};

class FakeNode final : public accessibility::AccessibleNode {
public:
    explicit FakeNode(std::shared_ptr<FakeMenuNode> n) : n_(std::move(n)) {}
    std::string identity() const override { return n_->id; }
    bool isMenuItem() override { return n_->menuItem; }
    std::optional<std::string> name() override { return n_->name; }
    bool isEnabled() override { return n_->enabled; }
    std::optional<std::string> firstActionKeyBinding() override { return n_->binding; }
    std::vector<std::unique_ptr<accessibility::AccessibleNode>> children() override {
        if (n_->visits) ++*n_->visits;
        std::vector<std::unique_ptr<accessibility::AccessibleNode>> out;
        for (auto& c : n_->makeChildren ? n_->makeChildren() : n_->children) out.push_back(std::make_unique<FakeNode>(c));
        return out;
    }
    bool pressFirstAction() override {
        ++n_->presses;
        return true;
    }

private:
    std::shared_ptr<FakeMenuNode> n_;
};

class FakeAccessibilityDesktop final : public accessibility::AccessibilityDesktop {
public:
    bool trusted = true;
    std::shared_ptr<FakeField> field;  // the focused element, if any
    std::shared_ptr<FakeMenuNode> bar;
    std::optional<std::string> title;
    std::optional<std::int32_t> lastTarget;

    bool isTrusted() override { return trusted; }
    bool requestAccess() override {
        trusted = true;
        return true;
    }
    std::unique_ptr<accessibility::TextElement> focusedElement(std::optional<std::int32_t> pid) override {
        lastTarget = pid;
        if (!field) return nullptr;
        return std::make_unique<FakeTextElement>(field);
    }
    std::optional<std::string> activeWindowTitle(std::optional<std::int32_t>) override { return title; }
    std::unique_ptr<accessibility::AccessibleNode> menuBar(std::optional<std::int32_t>) override {
        if (!bar) return nullptr;
        return std::make_unique<FakeNode>(bar);
    }
};

}  // namespace pelora::testing
