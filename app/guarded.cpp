#include "app/guarded.h"

#include <exception>

void RunGuarded(const std::function<void()>& handler, const std::function<void(const QString&)>& showError)
{
    try {
        handler();
    } catch (const std::exception& e) {
        showError(QString::fromUtf8(e.what()));
    } catch (...) {
        showError(QString());
    }
}
