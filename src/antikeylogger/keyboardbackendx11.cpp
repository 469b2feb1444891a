// XTest backend. Qt headers come first: Xlib's macros (KeyPress, None, Bool)
// would otherwise clash with Qt's names.
#include <QByteArray>
#include <QGuiApplication>

#include "antikeylogger/keyboardbackend.h"

#ifdef QUELLMERE_HAVE_XTEST

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <array>
#include <vector>

namespace {

constexpr size_t kModifierKinds = 5;

size_t KindIndex(TModifierKey key) { return static_cast<size_t>(key); }

// XQueryKeymap answers with one bit per keycode.
bool IsBitSet(const char (&keys)[32], int keycode) {
    return (static_cast<unsigned char>(keys[keycode / 8]) & (1u << (keycode % 8))) != 0;
}

std::optional<TModifierKey> KindOfKeysym(KeySym keysym) {
    switch (keysym) {
        case XK_Control_L:
        case XK_Control_R: return TModifierKey::Ctrl;
        case XK_Alt_L: return TModifierKey::Alt;
        case XK_Alt_R:
        case XK_ISO_Level3_Shift: return TModifierKey::RightAlt;
        case XK_Shift_L:
        case XK_Shift_R: return TModifierKey::Shift;
        case XK_Caps_Lock: return TModifierKey::CapsLock;
        default: return std::nullopt;
    }
}

KeySym DefaultKeysym(TModifierKey key) {
    switch (key) {
        case TModifierKey::Ctrl: return XK_Control_L;
        case TModifierKey::Alt: return XK_Alt_L;
        case TModifierKey::RightAlt: return XK_ISO_Level3_Shift;
        case TModifierKey::Shift: return XK_Shift_L;
        case TModifierKey::CapsLock: return XK_Caps_Lock;
    }
    return XK_Shift_L;
}

class TX11KeyboardBackend final : public TKeyboardBackend {
public:
    explicit TX11KeyboardBackend(Display* display) : display(display) {
        XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    }
    ~TX11KeyboardBackend() override { XCloseDisplay(display); }
    TX11KeyboardBackend(const TX11KeyboardBackend&) = delete;
    TX11KeyboardBackend& operator=(const TX11KeyboardBackend&) = delete;

    const char* Name() const override { return "x11"; }

    bool IsCtrlOrAltHeld() override {
        const std::array<std::vector<KeyCode>, kModifierKinds> down = DownModifierKeys();
        return !down[KindIndex(TModifierKey::Ctrl)].empty() || !down[KindIndex(TModifierKey::Alt)].empty() ||
               !down[KindIndex(TModifierKey::RightAlt)].empty();
    }

    THeldModifiers HeldModifiers() override {
        const std::array<std::vector<KeyCode>, kModifierKinds> down = DownModifierKeys();
        THeldModifiers held;
        held.Ctrl = !down[KindIndex(TModifierKey::Ctrl)].empty();
        held.Alt = !down[KindIndex(TModifierKey::Alt)].empty();
        held.RightAlt = !down[KindIndex(TModifierKey::RightAlt)].empty();
        held.Shift = !down[KindIndex(TModifierKey::Shift)].empty();
        return held;
    }

    bool IsCapsLockOn() override {
        XkbStateRec state{};
        if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return false;
        return (state.locked_mods & LockMask) != 0;
    }

    bool CanInject() const override { return true; }

    // Only the first two levels of the active group count: they are what a
    // key gives alone and with Shift once Caps Lock is off. A key that is down
    // right now (the user's own key is still held while its burst goes out)
    // counts as unproducible: the server drops a second press of a held key,
    // and waiting for it would swallow the next real character.
    std::optional<TKeyStroke> MapCharacter(char ch) override {
        std::optional<TKeyStroke> stroke = LayoutStroke(ch);
        if (stroke && IsKeyDown(static_cast<KeyCode>(stroke->KeyCode))) return std::nullopt;
        return stroke;
    }

    // Releasing lets go of every key of that kind that is down and remembers
    // them, so pressing again restores the very keys the user held (a held
    // right Ctrl comes back as right Ctrl).
    void SendModifier(TModifierKey key, bool press) override {
        std::vector<KeyCode>& remembered = releasedKeys[KindIndex(key)];
        if (press) {
            if (remembered.empty()) {
                const KeyCode keycode = XKeysymToKeycode(display, DefaultKeysym(key));
                if (keycode != 0) XTestFakeKeyEvent(display, keycode, True, CurrentTime);
                return;
            }
            for (KeyCode keycode : remembered) XTestFakeKeyEvent(display, keycode, True, CurrentTime);
            return;
        }
        std::vector<KeyCode> down = DownModifierKeys()[KindIndex(key)];
        if (down.empty()) return;
        for (KeyCode keycode : down) XTestFakeKeyEvent(display, keycode, False, CurrentTime);
        remembered = std::move(down);
    }

    void SendKey(uint32_t keyCode, bool press) override {
        XTestFakeKeyEvent(display, keyCode, press ? True : False, CurrentTime);
    }

    void Flush() override {
        XFlush(display);
        // Nobody reads this connection's events; keep its queue from growing.
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }

private:
    std::optional<TKeyStroke> LayoutStroke(char ch) {
        const auto code = static_cast<unsigned char>(ch);
        if (code < 0x20 || code > 0x7E) return std::nullopt;
        const KeySym wanted = code;  // Latin-1 keysyms equal their codes
        XkbStateRec state{};
        const unsigned group = XkbGetState(display, XkbUseCoreKbd, &state) == Success ? state.group : 0;
        for (int level = 0; level < 2; ++level) {
            for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
                if (XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), group, level) == wanted) {
                    return TKeyStroke{static_cast<uint32_t>(keycode), level == 1};
                }
            }
        }
        return std::nullopt;
    }

    bool IsKeyDown(KeyCode keycode) {
        char keys[32] = {};
        XQueryKeymap(display, keys);
        return IsBitSet(keys, keycode);
    }

    // Keys down right now, by kind. The query is a round trip, so earlier
    // fake events on this connection are already in the answer.
    std::array<std::vector<KeyCode>, kModifierKinds> DownModifierKeys() {
        std::array<std::vector<KeyCode>, kModifierKinds> down;
        char keys[32] = {};
        XQueryKeymap(display, keys);
        for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
            if (!IsBitSet(keys, keycode)) continue;
            const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<KeyCode>(keycode), 0, 0);
            if (std::optional<TModifierKey> kind = KindOfKeysym(keysym)) {
                down[KindIndex(*kind)].push_back(static_cast<KeyCode>(keycode));
            }
        }
        return down;
    }

    Display* display;
    int minKeycode = 8;
    int maxKeycode = 255;
    std::array<std::vector<KeyCode>, kModifierKinds> releasedKeys;
};

// The display Qt talks to; our own connection to it keeps our requests and
// replies out of Qt's event stream.
QByteArray QtDisplayName() {
    if (auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (Display* qtDisplay = x11->display()) return QByteArray(DisplayString(qtDisplay));
    }
    return {};
}

}  // namespace

std::shared_ptr<TKeyboardBackend> MakeX11KeyboardBackend() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    const QByteArray name = QtDisplayName();
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (display == nullptr) return nullptr;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_shared<TX11KeyboardBackend>(display);
}

#else

// Built without libXtst: there is no way to inject on X11 either.
std::shared_ptr<TKeyboardBackend> MakeX11KeyboardBackend() { return nullptr; }

#endif
