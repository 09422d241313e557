// Finding and closing another program's window on the test display.
#include "x11_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include "gtk_include.h"

namespace ryt {

namespace {

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

bool is_viewable_window_of(Window w, pid_t pid) {
    Atom type;
    int format;
    unsigned long n, rest;
    unsigned char* data = nullptr;
    XWindowAttributes attributes;
    bool found = XGetWindowProperty(display(), w, XInternAtom(display(), "_NET_WM_PID", False), 0, 1, False,
                                    XA_CARDINAL, &type, &format, &n, &rest, &data) == Success &&
                 data != nullptr && n == 1 && *reinterpret_cast<long*>(data) == pid &&
                 XGetWindowAttributes(display(), w, &attributes) && attributes.map_state == IsViewable;
    if (data) XFree(data);
    return found;
}

Window find_window(pid_t pid) {
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    Window found = 0;
    // Other programs' windows may vanish while we look at them.
    gdk_error_trap_push();
    if (XQueryTree(display(), DefaultRootWindow(display()), &root, &parent, &children, &n)) {
        for (unsigned int i = 0; i < n && found == 0; ++i)
            if (is_viewable_window_of(children[i], pid)) found = children[i];
        if (children) XFree(children);
    }
    gdk_flush();
    gdk_error_trap_pop();
    return found;
}

}  // namespace

unsigned long wait_for_window_of(pid_t pid, int timeout_ms) {
    gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
    while (g_get_monotonic_time() < end) {
        if (Window w = find_window(pid)) return w;
        g_usleep(20000);
    }
    return 0;
}

void send_close_request(unsigned long window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display(), "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = XInternAtom(display(), "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    gdk_error_trap_push();
    XSendEvent(display(), window, False, NoEventMask, &event);
    gdk_flush();
    gdk_error_trap_pop();
}

void destroy_window(unsigned long window) {
    gdk_error_trap_push();
    XDestroyWindow(display(), window);
    gdk_flush();
    gdk_error_trap_pop();
}

}  // namespace ryt
