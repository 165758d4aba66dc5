#pragma once

#include <functional>
#include <memory>

// GNOME's "show banners" switch (org.gnome.desktop.notifications,
// show-banners) read through GSettings, and followed through its changed
// signal. GIO is loaded when this is first made, not linked: a program on
// any other desktop never maps it. The signal comes through the GLib main
// context, which the toolkit's event loop runs on this thread.
//
// Start returns false, and nothing is followed, where GIO or the schema is
// missing or the key is not a boolean; a value of another type reads as
// banners shown.
class TGnomeBanners
{
public:
    // Called with the new value (true: banners hidden) on each change.
    explicit TGnomeBanners(std::function<void(bool hidden)> changed);
    ~TGnomeBanners();
    TGnomeBanners(const TGnomeBanners&) = delete;
    TGnomeBanners& operator=(const TGnomeBanners&) = delete;

    bool Start();
    bool Hidden() const;

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
