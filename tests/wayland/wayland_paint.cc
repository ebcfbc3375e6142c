// wayland_paint: a Wayland client that fills the whole screen with one colour, for the Wayland
// screen tests. A fullscreen xdg-shell window drawn in shared memory (wl_shm), so that it needs
// no GPU. "painted #rrggbb" on standard output says that the compositor has it; a later window
// covers it as a new colour. Ends when the compositor goes or closes the window.
//   wayland_paint '#e02020'     (WAYLAND_DISPLAY names the compositor)
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

namespace {

struct Painter {
    wl_display* display = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* shell = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* shellSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    int width = 0, height = 0;
    bool configured = false;
    bool closed = false;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* p = static_cast<Painter*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        p->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        p->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        p->shell = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {onGlobal, onGlobalRemove};

void onPing(void*, xdg_wm_base* shell, uint32_t serial) { xdg_wm_base_pong(shell, serial); }
const xdg_wm_base_listener kShell = {onPing};

void onSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    static_cast<Painter*>(data)->configured = true;
}
const xdg_surface_listener kSurface = {onSurfaceConfigure};

void onToplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
    auto* p = static_cast<Painter*>(data);
    if (width > 0 && height > 0) {
        p->width = width;
        p->height = height;
    }
}
void onToplevelClose(void* data, xdg_toplevel*) { static_cast<Painter*>(data)->closed = true; }
void onBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void onCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevel = {onToplevelConfigure, onToplevelClose, onBounds, onCapabilities};

bool parseColour(const std::string& text, uint32_t* pixel) {
    if (text.size() != 7 || text[0] != '#') return false;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str() + 1, &end, 16);
    if (*end != '\0') return false;
    *pixel = 0xff000000u | static_cast<uint32_t>(value);
    return true;
}

void onBufferRelease(void*, wl_buffer* buffer) { wl_buffer_destroy(buffer); }
const wl_buffer_listener kBuffer = {onBufferRelease};

// A new buffer of one colour on the surface; each is destroyed once the compositor lets it go.
bool paint(Painter& p, uint32_t pixel) {
    const int stride = p.width * 4;
    const size_t size = static_cast<size_t>(stride) * p.height;
    const int fd = memfd_create("wayland-paint", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return false;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) return false;
    auto* pixels = static_cast<uint32_t*>(memory);
    for (size_t i = 0; i < size / 4; ++i) pixels[i] = pixel;
    munmap(memory, size);
    wl_shm_pool* pool = wl_shm_create_pool(p.shm, fd, static_cast<int32_t>(size));
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, p.width, p.height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(buffer, &kBuffer, nullptr);
    wl_surface_attach(p.surface, buffer, 0, 0);
    wl_surface_damage(p.surface, 0, 0, p.width, p.height);
    wl_surface_commit(p.surface);
    return wl_display_roundtrip(p.display) >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t pixel = 0;
    if (argc != 2 || !parseColour(argv[1], &pixel)) {
        std::fprintf(stderr, "usage: wayland_paint '#rrggbb'\n");
        return 2;
    }
    Painter p;
    p.display = wl_display_connect(nullptr);
    if (!p.display) {
        std::fprintf(stderr, "wayland_paint: no Wayland compositor\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(p.display);
    wl_registry_add_listener(registry, &kRegistry, &p);
    wl_display_roundtrip(p.display);
    if (!p.compositor || !p.shm || !p.shell) {
        std::fprintf(stderr, "wayland_paint: the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
        return 1;
    }
    xdg_wm_base_add_listener(p.shell, &kShell, &p);
    p.surface = wl_compositor_create_surface(p.compositor);
    p.shellSurface = xdg_wm_base_get_xdg_surface(p.shell, p.surface);
    xdg_surface_add_listener(p.shellSurface, &kSurface, &p);
    p.toplevel = xdg_surface_get_toplevel(p.shellSurface);
    xdg_toplevel_add_listener(p.toplevel, &kToplevel, &p);
    xdg_toplevel_set_title(p.toplevel, "wayland_paint");
    xdg_toplevel_set_fullscreen(p.toplevel, nullptr);
    wl_surface_commit(p.surface);
    // The first configure says how large a full screen is; bounded, as everything here.
    for (int i = 0; i < 100 && (!p.configured || p.width == 0); ++i)
        if (wl_display_dispatch(p.display) < 0) return 1;
    if (p.width == 0) {
        std::fprintf(stderr, "wayland_paint: the compositor gave the window no size\n");
        return 1;
    }
    if (!paint(p, pixel)) return 1;
    std::printf("painted %s\n", argv[1]);
    std::fflush(stdout);

    // A screen playing video changes all the time: the colour is committed again twice a second,
    // so that a frame the compositor could not hand on (no buffer free while the reader was busy)
    // comes with the next one, as it would on a desktop playing a video.
    const int fd = wl_display_get_fd(p.display);
    while (!p.closed) {
        if (wl_display_flush(p.display) < 0 && errno != EAGAIN) return 1;
        pollfd ready{fd, POLLIN, 0};
        const int events = poll(&ready, 1, 500);
        if (events < 0 && errno != EINTR) return 1;
        if (events > 0 && wl_display_dispatch(p.display) < 0) return 1;  // the compositor has gone
        if (events == 0 && !paint(p, pixel)) return 1;
    }
    return 0;
}
