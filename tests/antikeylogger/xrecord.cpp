// A system-wide keystroke logger for the X test: records every key press on
// the display through the RECORD extension and, when told to stop (SIGTERM),
// prints the characters it saw.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <sys/select.h>

#include <csignal>
#include <cstdio>
#include <string>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

struct TLog {
    Display* control = nullptr;
    bool started = false;
    bool shift = false;
    bool capsLock = false;
    int presses = 0;
    std::string text;
};

void OnRecord(XPointer closure, XRecordInterceptData* data) {
    auto* log = reinterpret_cast<TLog*>(closure);
    if (data->category == XRecordStartOfData) {
        log->started = true;
    } else if (data->category == XRecordFromServer && data->data != nullptr) {
        const int type = data->data[0] & 0x7F;
        const auto keycode = static_cast<KeyCode>(data->data[1]);
        const KeySym base = XkbKeycodeToKeysym(log->control, keycode, 0, 0);
        const bool press = type == KeyPress;
        if (base == XK_Shift_L || base == XK_Shift_R) {
            log->shift = press;
        } else if (base == XK_Caps_Lock) {
            if (press) log->capsLock = !log->capsLock;
        } else if (press) {
            ++log->presses;
            KeySym sym = XkbKeycodeToKeysym(log->control, keycode, 0, log->shift ? 1 : 0);
            if (log->capsLock && sym >= 'a' && sym <= 'z')
                sym -= 32;
            else if (log->capsLock && sym >= 'A' && sym <= 'Z')
                sym += 32;
            if (sym >= 0x20 && sym <= 0x7E)
                log->text += static_cast<char>(sym);
            else
                log->text += '?';
        }
    }
    XRecordFreeData(data);
}

}  // namespace

int main() {
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    TLog log;
    log.control = XOpenDisplay(nullptr);
    Display* dataDisplay = XOpenDisplay(nullptr);
    if (log.control == nullptr || dataDisplay == nullptr) {
        std::fprintf(stderr, "cannot open display\n");
        return 2;
    }
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(log.control, &major, &minor)) {
        std::fprintf(stderr, "no RECORD extension\n");
        return 2;
    }
    XRecordRange* range = XRecordAllocRange();
    range->device_events.first = KeyPress;
    range->device_events.last = KeyRelease;
    XRecordClientSpec clients = XRecordAllClients;
    XRecordContext context = XRecordCreateContext(log.control, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(log.control, False);
    if (!XRecordEnableContextAsync(dataDisplay, context, OnRecord, reinterpret_cast<XPointer>(&log))) {
        std::fprintf(stderr, "cannot enable recording\n");
        return 2;
    }
    bool announced = false;
    const int fd = ConnectionNumber(dataDisplay);
    while (stopRequested == 0) {
        XRecordProcessReplies(dataDisplay);
        if (log.started && !announced) {
            announced = true;
            std::printf("RECORDING\n");
            std::fflush(stdout);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval wait{0, 50000};
        select(fd + 1, &readable, nullptr, nullptr, &wait);
    }
    XRecordDisableContext(log.control, context);
    XSync(log.control, False);
    XRecordProcessReplies(dataDisplay);
    XRecordFreeContext(log.control, context);
    std::printf("PRESSES:%d\nRECORDED:%s\n", log.presses, log.text.c_str());
    std::fflush(stdout);
    XCloseDisplay(dataDisplay);
    XCloseDisplay(log.control);
    return 0;
}
