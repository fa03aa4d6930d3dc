// The accessibility desktop over libatspi. Every call runs under one lock on a private
// main context, so the host program's own event loop never runs libatspi's handlers and
// libatspi is never entered from two threads.
#include <atspi/atspi.h>
#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_set>

#include "platform/accessibility/AccessibilityDesktop.h"
#include "platform/accessibility/Utf16.h"

namespace pelora::accessibility {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int callTimeoutMs = 800;
// A call that took this long ran into the timeout (or nearly): the target is not answering.
constexpr auto stalledCall = std::chrono::milliseconds(700);
// Bounds of the searches through a window's tree.
constexpr int searchNodeLimit = 4000;
constexpr auto searchTimeLimit = std::chrono::milliseconds(600);

struct Unref {
    void operator()(gpointer p) const {
        if (p) g_object_unref(p);
    }
};
using AccessibleRef = std::unique_ptr<AtspiAccessible, Unref>;
using StateSetRef = std::unique_ptr<AtspiStateSet, Unref>;

struct GFreeDeleter {
    void operator()(gpointer p) const { g_free(p); }
};
using GChars = std::unique_ptr<gchar, GFreeDeleter>;

struct RectDeleter {
    void operator()(AtspiRect* r) const { g_boxed_free(ATSPI_TYPE_RECT, r); }
};
struct RangeDeleter {
    void operator()(AtspiRange* r) const { g_boxed_free(ATSPI_TYPE_RANGE, r); }
};
struct HashDeleter {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
struct VariantDeleter {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantRef = std::unique_ptr<GVariant, VariantDeleter>;

std::recursive_mutex& busMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// One operation's calls: the first call that stalls ends the operation, so a stopped
// target costs one timeout, not one per call.
struct Budget {
    bool ended = false;
};

template <typename F>
auto guarded(Budget& budget, F&& call) -> std::optional<decltype(call(std::declval<GError**>()))> {
    if (budget.ended) return std::nullopt;
    GError* error = nullptr;
    const auto start = Clock::now();
    auto result = call(&error);
    if (Clock::now() - start >= stalledCall) budget.ended = true;
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    return result;
}

std::optional<std::string> sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return address;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code ec;
        const auto socket = std::filesystem::path(runtime) / "bus";
        if (std::filesystem::exists(socket, ec)) return "unix:path=" + socket.string();
    }
    return std::nullopt;
}

// A call to the accessibility bus launcher (org.a11y.Bus) on the session bus.
VariantRef callBusLauncher(const char* interface, const char* method, GVariant* parameters,
                           const GVariantType* replyType, bool autoStart, int timeoutMs) {
    const auto address = sessionBusAddress();
    if (!address) {
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return nullptr;
    }
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address->c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!connection) {
        g_clear_error(&error);
        if (parameters) g_variant_unref(g_variant_ref_sink(parameters));
        return nullptr;
    }
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.a11y.Bus", "/org/a11y/bus", interface, method, parameters, replyType,
        autoStart ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &error);
    g_clear_error(&error);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
    return VariantRef(reply);
}

bool statusIsEnabled() {
    auto reply = callBusLauncher("org.freedesktop.DBus.Properties", "Get",
                                 g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
                                 false, callTimeoutMs);
    if (!reply) return false;
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    VariantRef value(boxed);
    return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
}

bool busLauncherAnswers() {
    return callBusLauncher("org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"), false, callTimeoutMs) !=
           nullptr;
}

bool hasState(AtspiAccessible* object, AtspiStateType state, Budget& budget) {
    if (budget.ended) return false;
    const auto start = Clock::now();
    StateSetRef states(atspi_accessible_get_state_set(object));
    if (Clock::now() - start >= stalledCall) budget.ended = true;
    return states && atspi_state_set_contains(states.get(), state);
}

// The object offers an interface ("Text", "EditableText", "Action", "Component").
bool offers(AtspiAccessible* object, const char* interface) {
    GArray* names = atspi_accessible_get_interfaces(object);
    if (!names) return false;
    bool found = false;
    for (guint i = 0; i < names->len && !found; ++i)
        found = g_strcmp0(g_array_index(names, gchar*, i), interface) == 0;
    for (guint i = 0; i < names->len; ++i) g_free(g_array_index(names, gchar*, i));
    g_array_free(names, TRUE);
    return found;
}

std::optional<std::int32_t> processOf(AtspiAccessible* object, Budget& budget) {
    auto pid = guarded(budget, [&](GError** e) { return atspi_accessible_get_process_id(object, e); });
    if (!pid) return std::nullopt;
    return static_cast<std::int32_t>(*pid);
}

std::optional<AtspiRole> roleOf(AtspiAccessible* object, Budget& budget) {
    return guarded(budget, [&](GError** e) { return atspi_accessible_get_role(object, e); });
}

std::vector<AccessibleRef> childrenOf(AtspiAccessible* object, Budget& budget) {
    std::vector<AccessibleRef> children;
    auto count = guarded(budget, [&](GError** e) { return atspi_accessible_get_child_count(object, e); });
    if (!count) return children;
    for (int i = 0; i < *count; ++i) {
        auto child = guarded(budget, [&](GError** e) { return atspi_accessible_get_child_at_index(object, i, e); });
        if (!child) break;
        if (*child) children.emplace_back(*child);
    }
    return children;
}

std::string identityOf(AtspiAccessible* object) {
    auto* base = reinterpret_cast<AtspiObject*>(object);
    std::string id = base->app && base->app->bus_name ? base->app->bus_name : "";
    id += ':';
    if (base->path) id += base->path;
    return id;
}

// Breadth-first through the showing part of a tree, bounded by nodes and time, visiting
// every object once.
template <typename Predicate>
AccessibleRef searchTree(AtspiAccessible* root, Budget& budget, Predicate&& matches) {
    std::deque<AccessibleRef> queue;
    queue.emplace_back(AccessibleRef(static_cast<AtspiAccessible*>(g_object_ref(root))));
    std::unordered_set<std::string> visited{identityOf(root)};
    const auto deadline = Clock::now() + searchTimeLimit;
    int visitedNodes = 0;
    while (!queue.empty() && !budget.ended && visitedNodes < searchNodeLimit && Clock::now() < deadline) {
        AccessibleRef node = std::move(queue.front());
        queue.pop_front();
        ++visitedNodes;
        if (matches(node.get())) return node;
        if (node.get() != root && (!hasState(node.get(), ATSPI_STATE_SHOWING, budget) ||
                                   hasState(node.get(), ATSPI_STATE_MANAGES_DESCENDANTS, budget)))
            continue;
        for (auto& child : childrenOf(node.get(), budget))
            if (visited.insert(identityOf(child.get())).second) queue.push_back(std::move(child));
    }
    return nullptr;
}

class AtspiTextElement final : public TextElement {
public:
    AtspiTextElement(AccessibleRef object, std::int32_t pid, std::shared_ptr<Budget> budget)
        : object_(std::move(object)), pid_(pid), budget_(std::move(budget)) {
        auto toolkit =
            guarded(*budget_, [&](GError** e) { return atspi_accessible_get_toolkit_name(object_.get(), e); });
        // Qt's bridge counts UTF-16 units (and takes insert lengths in them); the ATK
        // toolkits count code points and take insert lengths in bytes.
        countsUtf16_ = toolkit && *toolkit && g_ascii_strcasecmp(*toolkit, "Qt") == 0;
        if (toolkit) g_free(*toolkit);
    }

    std::int32_t processIdentifier() const override { return pid_; }

    bool isEditable() override {
        std::lock_guard lock(busMutex());
        return offers(object_.get(), "EditableText") &&
               hasState(object_.get(), ATSPI_STATE_EDITABLE, *budget_);
    }

    bool isPasswordText() override {
        std::lock_guard lock(busMutex());
        return roleOf(object_.get(), *budget_) == ATSPI_ROLE_PASSWORD_TEXT;
    }

    std::optional<std::int64_t> length() override {
        std::lock_guard lock(busMutex());
        if (!readable()) return std::nullopt;
        if (!countsUtf16_) {
            const auto* whole = wholeText();
            if (!whole) return std::nullopt;
            return static_cast<std::int64_t>(whole->size());
        }
        auto count =
            guarded(*budget_, [&](GError** e) { return atspi_text_get_character_count(textOf(), e); });
        if (!count || *count < 0) return std::nullopt;
        return *count;
    }

    std::optional<std::u16string> text(std::int64_t start, std::int64_t end) override {
        std::lock_guard lock(busMutex());
        if (!readable()) return std::nullopt;
        if (!countsUtf16_) {
            const auto* whole = wholeText();
            if (!whole) return std::nullopt;
            const auto n = static_cast<std::int64_t>(whole->size());
            start = std::clamp<std::int64_t>(start, 0, n);
            end = std::clamp<std::int64_t>(end, start, n);
            return whole->substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
        }
        const auto n = length();
        if (!n) return std::nullopt;
        start = std::clamp<std::int64_t>(start, 0, *n);
        end = std::clamp<std::int64_t>(end, start, *n);
        if (start == end) return std::u16string();
        // One unit more on each side: a range that cuts a surrogate pair comes back from
        // the bridge with the half replaced, so the pair is read whole and cut here.
        const std::int64_t from = std::max<std::int64_t>(0, start - 1);
        const std::int64_t to = std::min<std::int64_t>(*n, end + 1);
        auto chars = guarded(*budget_, [&](GError** e) {
            return atspi_text_get_text(textOf(), static_cast<gint>(from), static_cast<gint>(to), e);
        });
        if (!chars || !*chars) return std::nullopt;
        GChars owned(*chars);
        std::u16string units = toUtf16(owned.get());
        const auto offset = static_cast<std::size_t>(start - from);
        if (units.size() < offset) return std::u16string();
        return units.substr(offset, static_cast<std::size_t>(end - start));
    }

    std::optional<UnitRange> selection() override {
        std::lock_guard lock(busMutex());
        if (!offers(object_.get(), "Text")) return std::nullopt;
        auto count = guarded(*budget_, [&](GError** e) { return atspi_text_get_n_selections(textOf(), e); });
        if (!count) return std::nullopt;
        if (*count > 0) {
            auto range = guarded(*budget_, [&](GError** e) { return atspi_text_get_selection(textOf(), 0, e); });
            if (range && *range) {
                std::unique_ptr<AtspiRange, RangeDeleter> owned(*range);
                const auto a = fromToolkit(std::min(owned->start_offset, owned->end_offset));
                const auto b = fromToolkit(std::max(owned->start_offset, owned->end_offset));
                if (a && b && *b > *a) return UnitRange{*a, *b - *a};
            }
        }
        auto caret = guarded(*budget_, [&](GError** e) { return atspi_text_get_caret_offset(textOf(), e); });
        if (!caret || *caret < 0) return std::nullopt;
        const auto at = fromToolkit(*caret);
        if (!at) return std::nullopt;
        return UnitRange{*at, 0};
    }

    std::optional<std::string> placeholder() override {
        std::lock_guard lock(busMutex());
        auto attributes =
            guarded(*budget_, [&](GError** e) { return atspi_accessible_get_attributes(object_.get(), e); });
        if (!attributes || !*attributes) return std::nullopt;
        std::unique_ptr<GHashTable, HashDeleter> owned(*attributes);
        const auto* value = static_cast<const char*>(g_hash_table_lookup(owned.get(), "placeholder-text"));
        if (!value) return std::nullopt;
        return std::string(value);
    }

    bool deleteText(std::int64_t start, std::int64_t end) override {
        std::lock_guard lock(busMutex());
        const auto a = toToolkit(start);
        const auto b = toToolkit(end);
        if (!a || !b) return false;
        auto done = guarded(*budget_, [&](GError** e) {
            return atspi_editable_text_delete_text(ATSPI_EDITABLE_TEXT(object_.get()), *a, *b, e);
        });
        whole_.reset();
        return done && *done;
    }

    bool insertText(std::int64_t position, std::u16string_view units) override {
        std::lock_guard lock(busMutex());
        const auto at = toToolkit(position);
        if (!at) return false;
        const std::string bytes = toUtf8(units);
        const auto length = countsUtf16_ ? units.size() : bytes.size();
        auto done = guarded(*budget_, [&](GError** e) {
            return atspi_editable_text_insert_text(ATSPI_EDITABLE_TEXT(object_.get()), *at, bytes.c_str(),
                                                   static_cast<gint>(length), e);
        });
        whole_.reset();
        return done && *done;
    }

    bool setCaret(std::int64_t offset) override {
        std::lock_guard lock(busMutex());
        const auto at = toToolkit(offset);
        if (!at) return false;
        auto done = guarded(*budget_, [&](GError** e) { return atspi_text_set_caret_offset(textOf(), *at, e); });
        return done && *done;
    }

    std::optional<ScreenBox> characterBox(std::int64_t offset) override {
        std::lock_guard lock(busMutex());
        const auto at = toToolkit(offset);
        if (!at || !offers(object_.get(), "Text")) return std::nullopt;
        return box(guarded(*budget_, [&](GError** e) {
            return atspi_text_get_character_extents(textOf(), *at, ATSPI_COORD_TYPE_SCREEN, e);
        }));
    }

    std::optional<ScreenBox> rangeBox(std::int64_t start, std::int64_t end) override {
        std::lock_guard lock(busMutex());
        const auto a = toToolkit(start);
        const auto b = toToolkit(end);
        if (!a || !b || !offers(object_.get(), "Text")) return std::nullopt;
        return box(guarded(*budget_, [&](GError** e) {
            return atspi_text_get_range_extents(textOf(), *a, *b, ATSPI_COORD_TYPE_SCREEN, e);
        }));
    }

    std::optional<ScreenBox> frame() override {
        std::lock_guard lock(busMutex());
        if (!offers(object_.get(), "Component")) return std::nullopt;
        return box(guarded(*budget_, [&](GError** e) {
            return atspi_component_get_extents(ATSPI_COMPONENT(object_.get()), ATSPI_COORD_TYPE_SCREEN, e);
        }));
    }

private:
    AtspiText* textOf() const { return ATSPI_TEXT(object_.get()); }

    bool readable() {
        if (!offers(object_.get(), "Text")) return false;
        if (!passwordChecked_) {
            password_ = roleOf(object_.get(), *budget_) == ATSPI_ROLE_PASSWORD_TEXT;
            passwordChecked_ = true;
        }
        return !password_;
    }

    // The whole text, for toolkits that count code points: offsets are converted over it.
    const std::u16string* wholeText() {
        if (whole_) return &*whole_;
        auto chars = guarded(*budget_, [&](GError** e) { return atspi_text_get_text(textOf(), 0, -1, e); });
        if (!chars || !*chars) return nullptr;
        GChars owned(*chars);
        whole_ = toUtf16(owned.get());
        return &*whole_;
    }

    std::optional<std::int64_t> fromToolkit(std::int64_t offset) {
        if (countsUtf16_) return offset;
        const auto* whole = wholeText();
        if (!whole) return std::nullopt;
        std::int64_t units = 0;
        for (std::int64_t scalars = 0; scalars < offset && units < static_cast<std::int64_t>(whole->size());
             ++scalars) {
            const char16_t u = (*whole)[static_cast<std::size_t>(units)];
            units += (u >= 0xD800 && u <= 0xDBFF && units + 1 < static_cast<std::int64_t>(whole->size())) ? 2 : 1;
        }
        return units;
    }

    std::optional<gint> toToolkit(std::int64_t offset) {
        if (offset < 0) offset = 0;
        if (countsUtf16_) return static_cast<gint>(offset);
        const auto* whole = wholeText();
        if (!whole) return std::nullopt;
        const auto end = std::min<std::int64_t>(offset, static_cast<std::int64_t>(whole->size()));
        gint scalars = 0;
        for (std::int64_t i = 0; i < end; ++i) {
            const char16_t u = (*whole)[static_cast<std::size_t>(i)];
            if (!(u >= 0xDC00 && u <= 0xDFFF && i > 0 && (*whole)[static_cast<std::size_t>(i - 1)] >= 0xD800 &&
                  (*whole)[static_cast<std::size_t>(i - 1)] <= 0xDBFF))
                ++scalars;
        }
        return scalars;
    }

    static std::optional<ScreenBox> box(std::optional<AtspiRect*> rect) {
        if (!rect || !*rect) return std::nullopt;
        std::unique_ptr<AtspiRect, RectDeleter> owned(*rect);
        return ScreenBox{owned->x, owned->y, owned->width, owned->height};
    }

    AccessibleRef object_;
    std::int32_t pid_;
    std::shared_ptr<Budget> budget_;
    bool countsUtf16_ = false;
    bool passwordChecked_ = false;
    bool password_ = false;
    std::optional<std::u16string> whole_;
};

class AtspiNode final : public AccessibleNode {
public:
    AtspiNode(AccessibleRef object, std::shared_ptr<Budget> budget)
        : object_(std::move(object)), budget_(std::move(budget)) {}

    std::string identity() const override { return identityOf(object_.get()); }

    bool isMenuItem() override {
        std::lock_guard lock(busMutex());
        return roleOf(object_.get(), *budget_) == ATSPI_ROLE_MENU_ITEM;
    }

    std::optional<std::string> name() override {
        std::lock_guard lock(busMutex());
        auto chars = guarded(*budget_, [&](GError** e) { return atspi_accessible_get_name(object_.get(), e); });
        if (!chars || !*chars) return std::nullopt;
        GChars owned(*chars);
        return std::string(owned.get());
    }

    bool isEnabled() override {
        std::lock_guard lock(busMutex());
        if (budget_->ended) return false;
        StateSetRef states(atspi_accessible_get_state_set(object_.get()));
        return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ENABLED) &&
               atspi_state_set_contains(states.get(), ATSPI_STATE_SENSITIVE);
    }

    std::optional<std::string> firstActionKeyBinding() override {
        std::lock_guard lock(busMutex());
        if (!offers(object_.get(), "Action")) return std::nullopt;
        auto* action = ATSPI_ACTION(object_.get());
        auto count = guarded(*budget_, [&](GError** e) { return atspi_action_get_n_actions(action, e); });
        if (!count || *count < 1) return std::nullopt;
        auto chars = guarded(*budget_, [&](GError** e) { return atspi_action_get_key_binding(action, 0, e); });
        if (!chars || !*chars) return std::nullopt;
        GChars owned(*chars);
        return std::string(owned.get());
    }

    std::vector<std::unique_ptr<AccessibleNode>> children() override {
        std::lock_guard lock(busMutex());
        std::vector<std::unique_ptr<AccessibleNode>> nodes;
        for (auto& child : childrenOf(object_.get(), *budget_))
            nodes.push_back(std::make_unique<AtspiNode>(std::move(child), budget_));
        return nodes;
    }

    bool pressFirstAction() override {
        std::lock_guard lock(busMutex());
        if (!offers(object_.get(), "Action")) return false;
        auto done = guarded(*budget_,
                            [&](GError** e) { return atspi_action_do_action(ATSPI_ACTION(object_.get()), 0, e); });
        return done && *done;
    }

private:
    AccessibleRef object_;
    std::shared_ptr<Budget> budget_;
};

class AtspiDesktop final : public AccessibilityDesktop {
public:
    bool isTrusted() override {
        std::lock_guard lock(busMutex());
        if (!statusIsEnabled()) return false;
        if (!ensureConnected()) return false;
        pump();
        Budget budget;
        AccessibleRef desktop(atspi_get_desktop(0));
        return desktop &&
               guarded(budget, [&](GError** e) { return atspi_accessible_get_child_count(desktop.get(), e); });
    }

    bool requestAccess() override {
        std::lock_guard lock(busMutex());
        // Starting the bus launcher on demand can take a moment.
        return callBusLauncher("org.freedesktop.DBus.Properties", "Set",
                               g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
                               nullptr, true, 5000) != nullptr;
    }

    std::unique_ptr<TextElement> focusedElement(std::optional<std::int32_t> processIdentifier) override {
        std::lock_guard lock(busMutex());
        if (!ensureConnected()) return nullptr;
        pump();
        auto budget = std::make_shared<Budget>();
        auto app = application(processIdentifier, *budget);
        if (!app.object) return nullptr;
        // The last focus event of that process, if its element still has the focus.
        if (auto it = lastFocus_.find(app.pid); it != lastFocus_.end()) {
            if (hasState(it->second.get(), ATSPI_STATE_FOCUSED, *budget)) {
                return std::make_unique<AtspiTextElement>(
                    AccessibleRef(static_cast<AtspiAccessible*>(g_object_ref(it->second.get()))), app.pid, budget);
            }
            lastFocus_.erase(it);
        }
        if (budget->ended) return nullptr;
        auto frame = activeFrame(app.object.get(), *budget);
        if (!frame) return nullptr;
        auto focused = searchTree(frame.get(), *budget, [&](AtspiAccessible* node) {
            return hasState(node, ATSPI_STATE_FOCUSED, *budget);
        });
        if (!focused || budget->ended) return nullptr;
        lastFocus_[app.pid] = AccessibleRef(static_cast<AtspiAccessible*>(g_object_ref(focused.get())));
        return std::make_unique<AtspiTextElement>(std::move(focused), app.pid, budget);
    }

    std::optional<std::string> activeWindowTitle(std::optional<std::int32_t> processIdentifier) override {
        std::lock_guard lock(busMutex());
        if (!ensureConnected()) return std::nullopt;
        pump();
        Budget budget;
        auto app = application(processIdentifier, budget);
        if (!app.object) return std::nullopt;
        auto frame = activeFrame(app.object.get(), budget);
        if (!frame) return std::nullopt;
        auto chars = guarded(budget, [&](GError** e) { return atspi_accessible_get_name(frame.get(), e); });
        if (!chars || !*chars) return std::nullopt;
        GChars owned(*chars);
        return std::string(owned.get());
    }

    std::unique_ptr<AccessibleNode> menuBar(std::optional<std::int32_t> processIdentifier) override {
        std::lock_guard lock(busMutex());
        if (!ensureConnected()) return nullptr;
        pump();
        auto budget = std::make_shared<Budget>();
        auto app = application(processIdentifier, *budget);
        if (!app.object) return nullptr;
        auto frame = activeFrame(app.object.get(), *budget);
        if (!frame) return nullptr;
        auto bar = searchTree(frame.get(), *budget, [&](AtspiAccessible* node) {
            return roleOf(node, *budget) == ATSPI_ROLE_MENU_BAR;
        });
        if (!bar || budget->ended) return nullptr;
        return std::make_unique<AtspiNode>(std::move(bar), budget);
    }

private:
    struct Application {
        AccessibleRef object;
        std::int32_t pid = 0;
    };

    // Connects libatspi once the bus launcher answers (libatspi can be initialised only
    // once per process, so it is not tried while there is no bus to find).
    bool ensureConnected() {
        if (connected_) return true;
        if (failed_ || !busLauncherAnswers()) return false;
        atspi_set_timeout(callTimeoutMs, -1);
        const int status = atspi_init();
        if (status != 0 && status != 1) {
            failed_ = true;
            return false;
        }
        context_ = g_main_context_new();
        atspi_set_main_context(context_);
        // Roles and interfaces do not change; states, names and children are read fresh,
        // since no event loop keeps libatspi's cache up to date between our calls.
        AccessibleRef desktop(atspi_get_desktop(0));
        if (desktop)
            atspi_accessible_set_cache_mask(desktop.get(),
                                            static_cast<AtspiCache>(ATSPI_CACHE_ROLE | ATSPI_CACHE_INTERFACES));
        listener_ = atspi_event_listener_new(&AtspiDesktop::onFocusEvent, this, nullptr);
        GError* error = nullptr;
        atspi_event_listener_register(listener_, "object:state-changed:focused", &error);
        g_clear_error(&error);
        connected_ = true;
        return true;
    }

    // Dispatches what arrived since the last call (focus events, cache updates).
    void pump() {
        for (int i = 0; i < 10000 && g_main_context_iteration(context_, FALSE); ++i) {
        }
    }

    static void onFocusEvent(AtspiEvent* event, void* self) {
        auto* desktop = static_cast<AtspiDesktop*>(self);
        if (event->source && event->detail1 == 1) {
            GError* error = nullptr;
            const auto pid = atspi_accessible_get_process_id(event->source, &error);
            if (!error && pid != static_cast<guint>(getpid()))
                desktop->lastFocus_[static_cast<std::int32_t>(pid)] =
                    AccessibleRef(static_cast<AtspiAccessible*>(g_object_ref(event->source)));
            g_clear_error(&error);
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    // The application object of a process, or of the process whose window is active.
    // This process itself is never chosen: its bridge answers only on its own main thread.
    Application application(std::optional<std::int32_t> processIdentifier, Budget& budget) {
        const auto self = static_cast<std::int32_t>(getpid());
        if (processIdentifier == self) return {};
        AccessibleRef desktop(atspi_get_desktop(0));
        if (!desktop) return {};
        std::vector<Application> candidates;
        auto count = guarded(budget, [&](GError** e) { return atspi_accessible_get_child_count(desktop.get(), e); });
        for (int i = 0; count && i < *count; ++i) {
            auto child =
                guarded(budget, [&](GError** e) { return atspi_accessible_get_child_at_index(desktop.get(), i, e); });
            if (!child || !*child) continue;
            AccessibleRef app(*child);
            Budget probe;  // a stale entry must not end the whole operation
            const auto pid = processOf(app.get(), probe);
            if (!pid || *pid == self) continue;
            if (processIdentifier) {
                if (*pid == *processIdentifier) return {std::move(app), *pid};
                continue;
            }
            candidates.push_back({std::move(app), *pid});
        }
        if (processIdentifier) return {};
        for (auto& candidate : candidates) {
            Budget probe;  // one unresponsive application must not hide the active one
            if (activeFrame(candidate.object.get(), probe)) return std::move(candidate);
        }
        return {};
    }

    static AccessibleRef activeFrame(AtspiAccessible* app, Budget& budget) {
        for (auto& child : childrenOf(app, budget))
            if (hasState(child.get(), ATSPI_STATE_ACTIVE, budget)) return std::move(child);
        return nullptr;
    }

    bool connected_ = false;
    bool failed_ = false;
    GMainContext* context_ = nullptr;
    AtspiEventListener* listener_ = nullptr;
    std::map<std::int32_t, AccessibleRef> lastFocus_;
};

}  // namespace

std::shared_ptr<AccessibilityDesktop> atspiDesktop() {
    static const auto desktop = std::make_shared<AtspiDesktop>();
    return desktop;
}

}  // namespace pelora::accessibility
