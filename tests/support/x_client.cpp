#include "support/x_client.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstring>
#include <unistd.h>

namespace zanfel::testing {

namespace {

Display *D(void *display) {
  return static_cast<Display *>(display);
}

Window FindUnder(Display *d, Window w, const std::string &prefix) {
  char *name = nullptr;
  if (XFetchName(d, w, &name) && name) {
    const bool match = std::strncmp(name, prefix.c_str(), prefix.size()) == 0;
    XFree(name);
    if (match)
      return w;
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count))
    return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i)
    found = FindUnder(d, children[i], prefix);
  if (children)
    XFree(children);
  return found;
}

// A window that went away meanwhile (the program ended) is no reason to end
// the test program, as Xlib's own handler would.
int IgnoreErrors(Display *, XErrorEvent *) {
  return 0;
}

} // namespace

XClient::XClient(const std::string &display) : display_(XOpenDisplay(display.c_str())) {
  XSetErrorHandler(IgnoreErrors);
}

XClient::~XClient() {
  if (display_)
    XCloseDisplay(D(display_));
}

unsigned long XClient::FindWindow(const std::string &prefix) {
  return FindUnder(D(display_), DefaultRootWindow(D(display_)), prefix);
}

std::string XClient::Title(unsigned long window) {
  char *name = nullptr;
  std::string title;
  if (XFetchName(D(display_), window, &name) && name) {
    title = name;
    XFree(name);
  }
  return title;
}

void XClient::PressKey(unsigned long window, const std::string &keysym) {
  Display *d = D(display_);
  XSetInputFocus(d, window, RevertToParent, CurrentTime);
  for (int type : {KeyPress, KeyRelease}) {
    XEvent e{};
    e.xkey.type = type;
    e.xkey.display = d;
    e.xkey.window = window;
    e.xkey.root = DefaultRootWindow(d);
    e.xkey.time = CurrentTime;
    e.xkey.same_screen = True;
    e.xkey.keycode = XKeysymToKeycode(d, XStringToKeysym(keysym.c_str()));
    XSendEvent(d, window, True, type == KeyPress ? KeyPressMask : KeyReleaseMask, &e);
  }
  XSync(d, False);
}

void XClient::Close(unsigned long window) {
  Display *d = D(display_);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &e);
  XSync(d, False);
}

std::vector<std::uint32_t> XClient::Pixels(unsigned long window) {
  Display *d = D(display_);
  XWindowAttributes a{};
  std::vector<std::uint32_t> pixels;
  if (!XGetWindowAttributes(d, window, &a))
    return pixels;
  XImage *image =
      XGetImage(d, window, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
  if (!image)
    return pixels;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      pixels.push_back(std::uint32_t(XGetPixel(image, x, y)) & 0xFFFFFFu);
  XDestroyImage(image);
  return pixels;
}

void XClient::CoverAndUncover(unsigned long window) {
  Display *d = D(display_);
  XWindowAttributes a{};
  XGetWindowAttributes(d, window, &a);
  Window child;
  int x = 0, y = 0;
  XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  attributes.background_pixel = WhitePixel(d, DefaultScreen(d));
  Window cover = XCreateWindow(d, DefaultRootWindow(d), x, y, unsigned(a.width), unsigned(a.height),
                               0, CopyFromParent, InputOutput, CopyFromParent,
                               CWOverrideRedirect | CWBackPixel, &attributes);
  XMapRaised(d, cover);
  XSync(d, False);
  usleep(200000);
  XDestroyWindow(d, cover);
  XSync(d, False);
}

} // namespace zanfel::testing
