// The accessibility desktop over libatspi. Every call runs under one lock on a private
// main context, so the host program's own event loop never runs libatspi's handlers and
// libatspi is never entered from two threads.
#include <atspi/atspi.h>
#include <dbus/dbus.h>
#include <gio/gio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "platform/accessibility/AccessibilityDesktop.h"
#include "platform/accessibility/PipelinedCalls.h"
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
// What is remembered per object and per application is forgotten beyond this many entries.
constexpr std::size_t cacheLimit = 4096;

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* actionInterface = "org.a11y.atspi.Action";

struct Unref {
    void operator()(gpointer p) const {
        if (p) g_object_unref(p);
    }
};
using AccessibleRef = std::unique_ptr<AtspiAccessible, Unref>;

AccessibleRef retained(AtspiAccessible* object) {
    return AccessibleRef(static_cast<AtspiAccessible*>(g_object_ref(object)));
}

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
struct ConnectionDeleter {
    void operator()(GDBusConnection* c) const {
        g_dbus_connection_close_sync(c, nullptr, nullptr);
        g_object_unref(c);
    }
};
using ConnectionRef = std::unique_ptr<GDBusConnection, ConnectionDeleter>;

std::recursive_mutex& busMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// Applications that lately left a call unanswered, with the time.
std::unordered_map<std::string, Clock::time_point>& stalledApplications() {
    static std::unordered_map<std::string, Clock::time_point> stalled;
    return stalled;
}

// An application that stalled is not asked again for this long, so an operation of
// several steps (capture reads the window title, then the field) costs one time limit.
constexpr auto stallMemory = std::chrono::seconds(1);

bool recentlyStalled(const std::string& application) {
    auto& stalled = stalledApplications();
    const auto it = stalled.find(application);
    if (it == stalled.end()) return false;
    if (Clock::now() - it->second < stallMemory) return true;
    stalled.erase(it);
    return false;
}

// One operation's calls: the first call that stalls ends the operation, so a stopped
// target costs one timeout, not one per call.
struct Budget {
    bool ended = false;
    // The bus name of the application the operation talks to.
    std::string application = {};

    void end() {
        ended = true;
        if (application.empty()) return;
        auto& stalled = stalledApplications();
        if (stalled.size() >= 4096) stalled.clear();
        stalled[application] = Clock::now();
    }
};

template <typename F>
auto guarded(Budget& budget, F&& call) -> std::optional<decltype(call(std::declval<GError**>()))> {
    if (budget.ended) return std::nullopt;
    GError* error = nullptr;
    const auto start = Clock::now();
    auto result = call(&error);
    if (Clock::now() - start >= stalledCall) budget.end();
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

// The accessibility bus launcher (org.a11y.Bus) on the session bus, over one connection
// that is kept open: asking whether assistive access is on is part of every operation.
class BusLauncher {
public:
    VariantRef call(const char* interface, const char* method, GVariant* parameters, const GVariantType* replyType,
                    bool autoStart, int timeoutMs) {
        if (parameters) g_variant_ref_sink(parameters);
        VariantRef owned(parameters);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!connect()) return nullptr;
            GError* error = nullptr;
            GVariant* reply = g_dbus_connection_call_sync(
                connection_.get(), "org.a11y.Bus", "/org/a11y/bus", interface, method, owned.get(), replyType,
                autoStart ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START, timeoutMs, nullptr, &error);
            const bool closed = error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
            g_clear_error(&error);
            if (reply || !closed) return VariantRef(reply);
            connection_.reset();  // the bus went away: one new connection, once
        }
        return nullptr;
    }

private:
    bool connect() {
        const auto address = sessionBusAddress();
        if (!address) {
            connection_.reset();
            return false;
        }
        if (connection_ && *address == address_ && !g_dbus_connection_is_closed(connection_.get())) return true;
        connection_.reset();
        GError* error = nullptr;
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address->c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_clear_error(&error);
        if (!connection) return false;
        // Never end the host program when the bus goes away.
        g_dbus_connection_set_exit_on_close(connection, FALSE);
        connection_.reset(connection);
        address_ = *address;
        return true;
    }

    ConnectionRef connection_;
    std::string address_;
};

BusLauncher& busLauncher() {
    static BusLauncher launcher;
    return launcher;
}

bool statusIsEnabled() {
    auto reply = busLauncher().call("org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"),
                                    false, callTimeoutMs);
    if (!reply) return false;
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    VariantRef value(boxed);
    return value && g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
}

bool busLauncherAnswers() {
    return busLauncher().call("org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"), false, callTimeoutMs) !=
           nullptr;
}

// States are read over the bus directly: libatspi's state sets are not kept up to date
// without an event loop.
std::optional<std::uint64_t> statesOf(AtspiAccessible* object, Budget& budget) {
    if (budget.ended) return std::nullopt;
    auto* base = reinterpret_cast<AtspiObject*>(object);
    PipelinedCalls calls(base->app ? base->app->bus : nullptr, std::chrono::milliseconds(callTimeoutMs));
    const auto call = calls.call({base->app && base->app->bus_name ? base->app->bus_name : "", base->path ? base->path : ""},
                                 "org.a11y.atspi.Accessible", "GetState");
    calls.wait();
    if (calls.stalled()) budget.end();
    return calls.states(call);
}

bool hasState(AtspiAccessible* object, AtspiStateType state, Budget& budget) {
    const auto states = statesOf(object, budget);
    return states && ((*states >> static_cast<unsigned>(state)) & 1u) != 0;
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

RemoteObject remoteOf(AtspiAccessible* object) {
    auto* base = reinterpret_cast<AtspiObject*>(object);
    return {base->app && base->app->bus_name ? base->app->bus_name : "", base->path ? base->path : ""};
}

std::string identityOf(AtspiAccessible* object) { return remoteOf(object).identity(); }

std::string busNameOf(AtspiAccessible* object) { return remoteOf(object).busName; }

// Breadth-first through the showing part of a tree, bounded by nodes and time, visiting
// every object once.
template <typename Predicate>
AccessibleRef searchTree(AtspiAccessible* root, Budget& budget, Predicate&& matches) {
    std::deque<AccessibleRef> queue;
    queue.emplace_back(retained(root));
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

// The interfaces an object offers, remembered per object: they do not change, and asking
// costs the target several milliseconds each time.
enum Interface : unsigned {
    textInterface = 1,
    editableTextInterface = 2,
    componentInterface = 4,
};

class InterfaceMemory {
public:
    unsigned of(AtspiAccessible* object, Budget& budget) {
        if (budget.ended) return 0;
        const auto identity = identityOf(object);
        if (auto it = known_.find(identity); it != known_.end()) return it->second;
        const auto start = Clock::now();
        GArray* names = atspi_accessible_get_interfaces(object);
        const bool stalled = Clock::now() - start >= stalledCall;
        if (stalled) budget.end();
        // Nothing known when the answer did not come: asked again next time.
        if (!names) return 0;
        unsigned mask = 0;
        for (guint i = 0; i < names->len; ++i) {
            const gchar* name = g_array_index(names, gchar*, i);
            if (g_strcmp0(name, "Text") == 0) mask |= textInterface;
            else if (g_strcmp0(name, "EditableText") == 0) mask |= editableTextInterface;
            else if (g_strcmp0(name, "Component") == 0) mask |= componentInterface;
            g_free(g_array_index(names, gchar*, i));
        }
        g_array_free(names, TRUE);
        if (!stalled) {
            if (known_.size() >= cacheLimit) known_.clear();
            known_.emplace(identity, mask);
        }
        return mask;
    }

private:
    std::unordered_map<std::string, unsigned> known_;
};

class AtspiTextElement final : public TextElement {
public:
    AtspiTextElement(AccessibleRef object, std::int32_t pid, bool countsUtf16, std::shared_ptr<Budget> budget,
                     InterfaceMemory& interfaces)
        : object_(std::move(object)),
          pid_(pid),
          countsUtf16_(countsUtf16),
          budget_(std::move(budget)),
          interfaces_(interfaces) {}

    std::int32_t processIdentifier() const override { return pid_; }

    bool isEditable() override {
        std::lock_guard lock(busMutex());
        if (!offers(editableTextInterface)) return false;
        // Qt's bridge calls a read-only field editable too (and writes into it): it is
        // told apart by READ_ONLY.
        const auto states = statesOf(object_.get(), *budget_);
        auto has = [&](AtspiStateType state) { return states && ((*states >> static_cast<unsigned>(state)) & 1u); };
        return has(ATSPI_STATE_EDITABLE) && !has(ATSPI_STATE_READ_ONLY);
    }

    bool isPasswordText() override {
        std::lock_guard lock(busMutex());
        return roleOf(object_.get(), *budget_) == ATSPI_ROLE_PASSWORD_TEXT;
    }

    std::optional<std::int64_t> length() override {
        std::lock_guard lock(busMutex());
        if (!readable()) return std::nullopt;
        if (!countsUtf16_) {
            const auto* window = codePointWindow();
            if (!window) return std::nullopt;
            return window->units(window->characters);
        }
        if (length_) return length_;
        auto count = guarded(*budget_, [&](GError** e) { return atspi_text_get_character_count(textOf(), e); });
        if (!count || *count < 0) return std::nullopt;
        length_ = *count;
        return length_;
    }

    std::optional<std::u16string> text(std::int64_t start, std::int64_t end) override {
        std::lock_guard lock(busMutex());
        if (!readable()) return std::nullopt;
        if (!countsUtf16_) {
            const auto* window = codePointWindow();
            if (!window) return std::nullopt;
            const auto n = window->units(window->characters);
            start = std::clamp<std::int64_t>(start, 0, n);
            end = std::clamp<std::int64_t>(end, start, n);
            if (start == end) return std::u16string();
            // Only what the window holds is known unit by unit.
            const auto from = window->units(window->first);
            if (start < from || end > from + static_cast<std::int64_t>(window->text.size())) return std::nullopt;
            return window->text.substr(static_cast<std::size_t>(start - from), static_cast<std::size_t>(end - start));
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
        if (!offers(textInterface)) return std::nullopt;
        if (!countsUtf16_) {
            const auto* window = codePointWindow();
            if (!window || !window->selection) return std::nullopt;
            const auto a = window->units(window->selection->first);
            return UnitRange{a, window->units(window->selection->second) - a};
        }
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
        forgetText();
        return done && *done;
    }

    bool insertText(std::int64_t position, std::u16string_view units) override {
        std::lock_guard lock(busMutex());
        const auto at = toToolkit(position);
        if (!at) return false;
        const std::string bytes = toUtf8(units);
        // Qt's bridge cuts (or pads with whatever lies in memory) the text to the length
        // in UTF-16 units; the ATK toolkits take it in bytes.
        const auto length = countsUtf16_ ? toUtf16(bytes).size() : bytes.size();
        auto done = guarded(*budget_, [&](GError** e) {
            return atspi_editable_text_insert_text(ATSPI_EDITABLE_TEXT(object_.get()), *at, bytes.c_str(),
                                                   static_cast<gint>(length), e);
        });
        forgetText();
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
        if (!offers(textInterface)) return std::nullopt;
        const auto at = toToolkit(offset);
        if (!at) return std::nullopt;
        return box(guarded(*budget_, [&](GError** e) {
            return atspi_text_get_character_extents(textOf(), *at, ATSPI_COORD_TYPE_SCREEN, e);
        }));
    }

    std::optional<ScreenBox> rangeBox(std::int64_t start, std::int64_t end) override {
        std::lock_guard lock(busMutex());
        if (!offers(textInterface)) return std::nullopt;
        const auto a = toToolkit(start);
        const auto b = toToolkit(end);
        if (!a || !b) return std::nullopt;
        return box(guarded(*budget_, [&](GError** e) {
            return atspi_text_get_range_extents(textOf(), *a, *b, ATSPI_COORD_TYPE_SCREEN, e);
        }));
    }

    std::optional<ScreenBox> frame() override {
        std::lock_guard lock(busMutex());
        if (!offers(componentInterface)) return std::nullopt;
        return box(guarded(*budget_, [&](GError** e) {
            return atspi_component_get_extents(ATSPI_COMPONENT(object_.get()), ATSPI_COORD_TYPE_SCREEN, e);
        }));
    }

private:
    AtspiText* textOf() const { return ATSPI_TEXT(object_.get()); }

    bool offers(unsigned interface) {
        if (budget_->ended) return false;
        return (interfaces_.of(object_.get(), *budget_) & interface) != 0;
    }

    bool readable() {
        if (!offers(textInterface)) return false;
        if (!passwordChecked_) {
            password_ = roleOf(object_.get(), *budget_) == ATSPI_ROLE_PASSWORD_TEXT;
            passwordChecked_ = true;
        }
        return !password_;
    }

    // What was read of the text is read again after a write.
    void forgetText() {
        length_.reset();
        if (window_) windowFirst_ = window_->first;
        window_.reset();
    }

    // For toolkits that count code points: the text around the selection, read once,
    // over which offsets are converted. Units are counted as if every character before
    // the window were one unit: the same for every call of one operation (what they
    // read and write lies around the caret), and never a read of the whole document.
    struct CodePointWindow {
        gint characters = 0;  // the field's length in code points
        gint first = 0;       // where the window starts, in code points
        gint last = 0;        // where it ends
        std::u16string text;  // first..last
        std::optional<std::pair<gint, gint>> selection;  // or the caret, in code points

        std::int64_t units(gint point) const {
            if (point <= first) return point;
            std::int64_t u = first;
            std::size_t i = 0;
            for (gint p = first; p < point && p < last && i < text.size(); ++p) {
                const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
                i += pair ? 2 : 1;
                u += pair ? 2 : 1;
            }
            return u + std::max(0, point - last);
        }

        gint points(std::int64_t unit) const {
            if (unit <= first) return static_cast<gint>(std::max<std::int64_t>(0, unit));
            std::int64_t u = first;
            gint p = first;
            std::size_t i = 0;
            while (u < unit && i < text.size()) {
                const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size();
                // A unit between the halves of a pair counts as the pair's start.
                if (pair && u + 1 == unit) return p;
                i += pair ? 2 : 1;
                u += pair ? 2 : 1;
                ++p;
            }
            return static_cast<gint>(p + std::max<std::int64_t>(0, unit - u));
        }
    };

    // Code points on each side of the selection that the window holds.
    static constexpr gint windowReach = 4096;

    const CodePointWindow* codePointWindow() {
        if (window_) return &*window_;
        CodePointWindow window;
        auto count = guarded(*budget_, [&](GError** e) { return atspi_text_get_character_count(textOf(), e); });
        if (!count || *count < 0) return nullptr;
        window.characters = *count;
        auto selections = guarded(*budget_, [&](GError** e) { return atspi_text_get_n_selections(textOf(), e); });
        if (selections && *selections > 0) {
            auto range = guarded(*budget_, [&](GError** e) { return atspi_text_get_selection(textOf(), 0, e); });
            if (range && *range) {
                std::unique_ptr<AtspiRange, RangeDeleter> owned(*range);
                const auto a = std::clamp(std::min(owned->start_offset, owned->end_offset), 0, *count);
                const auto b = std::clamp(std::max(owned->start_offset, owned->end_offset), 0, *count);
                if (b > a) window.selection = std::pair(a, b);
            }
        }
        if (!window.selection) {
            auto caret = guarded(*budget_, [&](GError** e) { return atspi_text_get_caret_offset(textOf(), e); });
            if (caret && *caret >= 0) window.selection = std::pair(std::min(*caret, *count), std::min(*caret, *count));
        }
        const gint from = window.selection ? window.selection->first : *count;
        const gint to = window.selection ? window.selection->second : *count;
        // After a write the window keeps its start, so that offsets keep their meaning.
        window.first = windowFirst_ ? std::min(*windowFirst_, *count) : std::max(0, from - windowReach);
        window.last = std::max(window.first, std::min(*count, std::max(to, window.first) + windowReach));
        auto chars = guarded(*budget_, [&](GError** e) {
            return atspi_text_get_text(textOf(), window.first, window.last, e);
        });
        if (!chars || !*chars) return nullptr;
        GChars owned(*chars);
        window.text = toUtf16(owned.get());
        window_ = std::move(window);
        return &*window_;
    }

    std::optional<std::int64_t> fromToolkit(std::int64_t offset) {
        if (countsUtf16_) return offset;
        const auto* window = codePointWindow();
        if (!window) return std::nullopt;
        return window->units(static_cast<gint>(offset));
    }

    std::optional<gint> toToolkit(std::int64_t offset) {
        if (offset < 0) offset = 0;
        if (countsUtf16_) return static_cast<gint>(offset);
        const auto* window = codePointWindow();
        if (!window) return std::nullopt;
        return window->points(offset);
    }

    static std::optional<ScreenBox> box(std::optional<AtspiRect*> rect) {
        if (!rect || !*rect) return std::nullopt;
        std::unique_ptr<AtspiRect, RectDeleter> owned(*rect);
        return ScreenBox{owned->x, owned->y, owned->width, owned->height};
    }

    AccessibleRef object_;
    std::int32_t pid_;
    bool countsUtf16_;
    std::shared_ptr<Budget> budget_;
    InterfaceMemory& interfaces_;
    bool passwordChecked_ = false;
    bool password_ = false;
    std::optional<std::int64_t> length_;
    std::optional<CodePointWindow> window_;
    std::optional<gint> windowFirst_;
};

// A node of a menu tree, spoken to directly over the accessibility bus so that a level
// of siblings is read in one batch of pipelined calls.
class AtspiNode final : public AccessibleNode {
public:
    AtspiNode(RemoteObject object, DBusConnection* bus, std::shared_ptr<Budget> budget,
              std::optional<std::optional<std::string>> keyBinding = std::nullopt)
        : object_(std::move(object)), bus_(bus), budget_(std::move(budget)), keyBinding_(std::move(keyBinding)) {}

    std::string identity() const override { return object_.identity(); }

    bool isMenuItem() override {
        std::lock_guard lock(busMutex());
        auto calls = batch();
        const auto role = calls.call(object_, accessibleInterface, "GetRole");
        finish(calls);
        return calls.uint32(role) == static_cast<std::uint32_t>(ATSPI_ROLE_MENU_ITEM);
    }

    std::optional<std::string> name() override {
        std::lock_guard lock(busMutex());
        auto calls = batch();
        const auto name = calls.property(object_, accessibleInterface, "Name");
        finish(calls);
        return calls.stringProperty(name);
    }

    bool isEnabled() override {
        std::lock_guard lock(busMutex());
        auto calls = batch();
        const auto state = calls.call(object_, accessibleInterface, "GetState");
        finish(calls);
        const auto bits = calls.states(state);
        auto has = [&](AtspiStateType s) { return bits && (*bits >> static_cast<unsigned>(s)) & 1u; };
        return has(ATSPI_STATE_ENABLED) && has(ATSPI_STATE_SENSITIVE);
    }

    std::optional<std::string> firstActionKeyBinding() override {
        if (keyBinding_) return *keyBinding_;
        std::lock_guard lock(busMutex());
        auto calls = batch();
        const auto binding = calls.callWithIndex(object_, actionInterface, "GetKeyBinding", 0);
        finish(calls);
        keyBinding_ = calls.string(binding);
        return *keyBinding_;
    }

    // The children with their key bindings, read in one batch.
    std::vector<std::unique_ptr<AccessibleNode>> children() override {
        std::lock_guard lock(busMutex());
        std::vector<std::unique_ptr<AccessibleNode>> nodes;
        auto listing = batch();
        const auto list = listing.call(object_, accessibleInterface, "GetChildren");
        finish(listing);
        const auto references = listing.references(list);
        if (!references || references->empty()) return nodes;
        auto details = batch();
        std::vector<std::size_t> bindings;
        for (const auto& child : *references)
            bindings.push_back(details.callWithIndex(child, actionInterface, "GetKeyBinding", 0));
        finish(details);
        for (std::size_t i = 0; i < references->size(); ++i)
            nodes.push_back(std::make_unique<AtspiNode>((*references)[i], bus_, budget_,
                                                        std::optional(details.string(bindings[i]))));
        return nodes;
    }

    bool pressFirstAction() override {
        std::lock_guard lock(busMutex());
        auto calls = batch();
        const auto done = calls.callWithIndex(object_, actionInterface, "DoAction", 0);
        finish(calls);
        return calls.boolean(done).value_or(false);
    }

private:
    // A batch that sends nothing once the operation has ended.
    PipelinedCalls batch() const {
        return PipelinedCalls(budget_->ended ? nullptr : bus_, std::chrono::milliseconds(callTimeoutMs));
    }
    void finish(PipelinedCalls& calls) const {
        calls.wait();
        if (calls.stalled()) budget_->end();
    }

    RemoteObject object_;
    DBusConnection* bus_;
    std::shared_ptr<Budget> budget_;
    std::optional<std::optional<std::string>> keyBinding_;
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
        return busLauncher().call("org.freedesktop.DBus.Properties", "Set",
                                  g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
                                  nullptr, true, 5000) != nullptr;
    }

    std::unique_ptr<TextElement> focusedElement(std::optional<std::int32_t> processIdentifier) override {
        std::lock_guard lock(busMutex());
        if (!ensureConnected()) return nullptr;
        pump();
        auto budget = std::make_shared<Budget>();
        auto app = application(processIdentifier, *budget);
        if (!app.object || !engage(*budget, app)) return nullptr;
        const bool countsUtf16 = countsUtf16Units(app.object.get(), *budget);
        // The last focus event of that application, if its element still has the focus.
        const auto busName = busNameOf(app.object.get());
        if (auto it = lastFocus_.find(busName); it != lastFocus_.end()) {
            if (hasState(it->second.get(), ATSPI_STATE_FOCUSED, *budget)) {
                return std::make_unique<AtspiTextElement>(retained(it->second.get()), app.pid, countsUtf16, budget,
                                                          interfaces_);
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
        lastFocus_[busName] = retained(focused.get());
        return std::make_unique<AtspiTextElement>(std::move(focused), app.pid, countsUtf16, budget, interfaces_);
    }

    std::optional<std::string> activeWindowTitle(std::optional<std::int32_t> processIdentifier) override {
        std::lock_guard lock(busMutex());
        if (!ensureConnected()) return std::nullopt;
        pump();
        Budget budget;
        auto app = application(processIdentifier, budget);
        if (!app.object || !engage(budget, app)) return std::nullopt;
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
        if (!app.object || !engage(*budget, app)) return nullptr;
        auto frame = activeFrame(app.object.get(), *budget);
        if (!frame) return nullptr;
        auto bar = searchTree(frame.get(), *budget, [&](AtspiAccessible* node) {
            return roleOf(node, *budget) == ATSPI_ROLE_MENU_BAR;
        });
        if (!bar || budget->ended) return nullptr;
        auto* bus = reinterpret_cast<AtspiObject*>(bar.get())->app->bus;
        if (!bus) return nullptr;
        return std::make_unique<AtspiNode>(remoteOf(bar.get()), bus, budget);
    }

private:
    struct Application {
        AccessibleRef object;
        std::int32_t pid = 0;
    };

    // The operation talks to this application from here on; false when it stalled lately.
    static bool engage(Budget& budget, const Application& app) {
        budget.application = busNameOf(app.object.get());
        return !recentlyStalled(budget.application);
    }

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
        // Roles and interfaces do not change; names and children are read fresh, since no
        // event loop keeps libatspi's cache up to date between our calls. States count as
        // cached for libatspi's own sake only: it tests them while it handles the cache
        // signals inside its message dispatch, and a state set that is not cached goes over
        // the bus from there and deadlocks. Our own state reads go over the bus directly.
        AccessibleRef desktop(atspi_get_desktop(0));
        if (desktop)
            atspi_accessible_set_cache_mask(desktop.get(), static_cast<AtspiCache>(ATSPI_CACHE_ROLE |
                                                                                   ATSPI_CACHE_INTERFACES |
                                                                                   ATSPI_CACHE_STATES));
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

    // Called while libatspi dispatches: no call may go over the bus from here.
    static void onFocusEvent(AtspiEvent* event, void* self) {
        auto* desktop = static_cast<AtspiDesktop*>(self);
        if (event->source && event->detail1 == 1) {
            const auto busName = busNameOf(event->source);
            if (!busName.empty()) {
                if (desktop->lastFocus_.size() >= cacheLimit) desktop->lastFocus_.clear();
                desktop->lastFocus_[busName] = retained(event->source);
            }
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    // The process behind an object's application, remembered per bus name (a bus name is
    // never given to another connection).
    std::optional<std::int32_t> processOfApplication(AtspiAccessible* object, Budget& budget) {
        const auto name = busNameOf(object);
        if (auto it = processes_.find(name); it != processes_.end()) return it->second;
        const auto pid = processOf(object, budget);
        if (pid && !name.empty()) {
            if (processes_.size() >= cacheLimit) processes_.clear();
            processes_.emplace(name, *pid);
        }
        return pid;
    }

    // Qt's bridge counts UTF-16 units; the ATK toolkits (GTK, browsers) count code points.
    // The toolkit is a property of the application object, remembered per bus name.
    bool countsUtf16Units(AtspiAccessible* application, Budget& budget) {
        const auto name = busNameOf(application);
        if (auto it = utf16Toolkits_.find(name); it != utf16Toolkits_.end()) return it->second;
        auto toolkit =
            guarded(budget, [&](GError** e) { return atspi_accessible_get_toolkit_name(application, e); });
        if (!toolkit || !*toolkit) return false;
        const bool qt = g_ascii_strncasecmp(*toolkit, "Qt", 2) == 0;
        g_free(*toolkit);
        if (utf16Toolkits_.size() >= cacheLimit) utf16Toolkits_.clear();
        utf16Toolkits_.emplace(name, qt);
        return qt;
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
            const auto pid = processOfApplication(app.get(), probe);
            if (!pid || *pid == self) continue;
            if (processIdentifier) {
                if (*pid == *processIdentifier) return {std::move(app), *pid};
                continue;
            }
            candidates.push_back({std::move(app), *pid});
        }
        if (processIdentifier) return {};
        for (auto& candidate : candidates) {
            // One unresponsive application must not hide the active one.
            Budget probe{.application = busNameOf(candidate.object.get())};
            if (recentlyStalled(probe.application)) continue;
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
    // The last focused element per application (bus name); this process's own never
    // counts, since no application of this process is ever chosen.
    std::map<std::string, AccessibleRef> lastFocus_;
    std::unordered_map<std::string, std::int32_t> processes_;
    std::unordered_map<std::string, bool> utf16Toolkits_;
    InterfaceMemory interfaces_;
};

}  // namespace

std::shared_ptr<AccessibilityDesktop> atspiDesktop() {
    static const auto desktop = std::make_shared<AtspiDesktop>();
    return desktop;
}

}  // namespace pelora::accessibility
