// service-monitor: runs one service program for the service control manager
// (platform/services.h). Its message table gives the texts of the events the
// monitor writes to the System log as "Service Control Manager".

#include "platform/message_table.h"
#include "platform/services.h"

WN_MESSAGE_TABLE(kServiceMonitorMessages) = {
    platform::message(0x40001B7C, u"The %1 service entered the %2 state."),
    platform::message(0xC0001B7A, u"The %1 service terminated unexpectedly with exit code %2."),
    platform::message(0xC0001B61, u"A timeout was reached (%1 milliseconds) while waiting for the %2 service to connect."),
    platform::message(0xC0001B58, u"The %1 service failed to start due to the following error: %2"),
};

int main(int argc, char** argv) { return platform::runServiceMonitor(argc, argv); }
