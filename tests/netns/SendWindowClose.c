/* send-window-close <window id>: asks a top-level X window to close the way a
 * window manager does when the user clicks its close box: a WM_PROTOCOLS
 * client message carrying WM_DELETE_WINDOW. The window is neither destroyed
 * nor its client killed; what happens next is the program's own doing.
 * Exits 0 once the message is sent, 1 when the window does not take
 * WM_DELETE_WINDOW or cannot be reached, 2 on bad usage. DISPLAY names the
 * server. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int g_badWindow = 0;

static int OnXError(Display* display, XErrorEvent* error)
{
    (void)display;
    (void)error;
    g_badWindow = 1;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: send-window-close <window id>\n");
        return 2;
    }
    char* end = NULL;
    unsigned long id = strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || id == 0) {
        fprintf(stderr, "send-window-close: bad window id '%s'\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "send-window-close: cannot open display '%s'\n", XDisplayName(NULL));
        return 1;
    }
    XSetErrorHandler(OnXError);
    Window window = (Window)id;
    Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    /* A window manager only sends the message to windows that ask for it. */
    Atom* taken = NULL;
    int count = 0;
    int asks = 0;
    if (XGetWMProtocols(display, window, &taken, &count)) {
        for (int i = 0; i < count; ++i)
            if (taken[i] == deleteWindow)
                asks = 1;
        XFree(taken);
    }
    if (!asks || g_badWindow) {
        fprintf(stderr, "send-window-close: window 0x%lx does not take WM_DELETE_WINDOW\n", id);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)deleteWindow;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    int failed = g_badWindow;
    XCloseDisplay(display);
    if (failed) {
        fprintf(stderr, "send-window-close: window 0x%lx went away\n", id);
        return 1;
    }
    return 0;
}
