// SPDX-License-Identifier: GPL-3.0-or-later
// vorta-cli watch: the fleet's readings from an MQTT broker, one line each.
#pragma once

#include "MqttClient.h"

struct TWatchOptions {
    TMqttOptions Mqtt;
    std::string Filter = "vorta/#";
    int Qos = 0;
    enum TFormat { Lines, Csv, Json } Format = Lines;
    int DurationS = 0; // 0: until SIGINT or SIGTERM
};

// Runs on the caller's event loop until a signal or the duration; returns
// the exit status (0, or 3 when the broker refused or cannot be used).
// Throws EMqttError for bad options.
int RunWatch(const TWatchOptions& Options);
