// Every GLib, GTK, GDK or Pango warning or critical raised while a window test
// runs fails that test: a warning on screen is a fault we would otherwise ship.

#include <glib.h>
#include <gtest/gtest.h>

namespace {

void failOnWarning(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
        ADD_FAILURE() << (domain ? domain : "(no domain)") << ": " << (message ? message : "");
    else
        g_log_default_handler(domain, level, message, nullptr);
}

class LogFailures : public ::testing::Environment {
public:
    void SetUp() override { g_log_set_default_handler(failOnWarning, nullptr); }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new LogFailures);

} // namespace
