#pragma once
// Runs an event handler so that an error escaping it is shown to the user and the
// window stays usable, as the event loop of a desktop toolkit does.
#include <QString>
#include <functional>

void RunGuarded(const std::function<void()>& handler, const std::function<void(const QString&)>& showError);
