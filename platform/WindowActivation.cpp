#include "platform/WindowActivation.h"

#include <QGuiApplication>
#include <QWindow>

#ifdef QUORVANE_HAVE_WAYLAND
#include "xdg-activation-v1-client.h"

#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>
#endif

namespace {

QString pending;

#ifdef QUORVANE_HAVE_WAYLAND

// The activation global, bound on an event queue of our own so that Qt's dispatching of its
// own objects is left alone. Null when Qt does not run on Wayland or the compositor lacks
// the protocol.
struct Activation
{
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    xdg_activation_v1* global = nullptr;
};

void announced(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* activation = static_cast<Activation*>(data);
    if (qstrcmp(interface, xdg_activation_v1_interface.name) == 0 && !activation->global)
        activation->global = static_cast<xdg_activation_v1*>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void withdrawn(void*, wl_registry*, uint32_t) {}

const wl_registry_listener RegistryListener{announced, withdrawn};

void tokenDone(void* data, xdg_activation_token_v1*, const char* token)
{
    *static_cast<QString*>(data) = QString::fromUtf8(token);
}

const xdg_activation_token_v1_listener TokenListener{tokenDone};

QPlatformNativeInterface* native()
{
    return QGuiApplication::platformName() == QLatin1String("wayland")
               ? QGuiApplication::platformNativeInterface()
               : nullptr;
}

Activation* activation()
{
    static Activation* bound = [] {
        QPlatformNativeInterface* interface = native();
        auto* display = interface ? static_cast<wl_display*>(
                                        interface->nativeResourceForIntegration("wl_display"))
                                  : nullptr;
        if (!display)
            return static_cast<Activation*>(nullptr);
        auto* found = new Activation;
        found->display = display;
        found->queue = wl_display_create_queue(display);
        auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), found->queue);
        wl_registry* registry = wl_display_get_registry(wrapper);
        wl_proxy_wrapper_destroy(wrapper);
        wl_registry_add_listener(registry, &RegistryListener, found);
        wl_display_roundtrip_queue(display, found->queue);
        wl_registry_destroy(registry);
        return found;
    }();
    return bound && bound->global ? bound : nullptr;
}

wl_surface* surfaceOf(QWindow* window)
{
    QPlatformNativeInterface* interface = native();
    return interface && window && window->handle()
               ? static_cast<wl_surface*>(interface->nativeResourceForWindow("surface", window))
               : nullptr;
}

#endif

} // namespace

bool ActivationTokensBuiltIn()
{
#ifdef QUORVANE_HAVE_WAYLAND
    return true;
#else
    return false;
#endif
}

QString RequestActivationToken(QWindow* window)
{
    QString token;
#ifdef QUORVANE_HAVE_WAYLAND
    Activation* bound = activation();
    wl_surface* surface = surfaceOf(window);
    if (!bound || !surface)
        return token;
    QPlatformNativeInterface* interface = native();
    xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(bound->global);
    xdg_activation_token_v1_add_listener(request, &TokenListener, &token);
    // The serial of the latest input event: the compositor grants focus only to what the
    // user just asked for.
    const auto serial = static_cast<uint32_t>(
        reinterpret_cast<quintptr>(interface->nativeResourceForIntegration("serial")));
    auto* seat = static_cast<wl_seat*>(interface->nativeResourceForIntegration("wl_seat"));
    if (serial != 0 && seat)
        xdg_activation_token_v1_set_serial(request, serial, seat);
    xdg_activation_token_v1_set_surface(request, surface);
    xdg_activation_token_v1_commit(request);
    // The compositor answers at once; a few round trips bound the wait.
    for (int trip = 0; trip < 3 && token.isEmpty(); ++trip)
        if (wl_display_roundtrip_queue(bound->display, bound->queue) < 0)
            break;
    xdg_activation_token_v1_destroy(request);
#else
    Q_UNUSED(window);
#endif
    return token;
}

void SetPendingActivationToken(const QString& token)
{
    pending = token;
}

bool HasPendingActivationToken()
{
    return !pending.isEmpty();
}

void ActivateWindow(QWindow* window)
{
    if (!window)
        return;
    if (window->windowStates() & Qt::WindowMinimized)
        window->showNormal();
    else
        window->show();
    const QString token = std::exchange(pending, QString());
#ifdef QUORVANE_HAVE_WAYLAND
    if (Activation* bound = activation(); bound && !token.isEmpty()) {
        if (wl_surface* surface = surfaceOf(window)) {
            xdg_activation_v1_activate(bound->global, token.toUtf8().constData(), surface);
            wl_display_flush(bound->display);
            return;
        }
    }
#endif
    if (QGuiApplication::focusWindow() == window)
        return;
    window->raise();
    window->requestActivate();
}
