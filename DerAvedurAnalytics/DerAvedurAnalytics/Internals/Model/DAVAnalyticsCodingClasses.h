#pragma once
// Registers the analytics service's archived classes (logs, typed properties)
// with the keyed unarchiver, and their older names with the SDK's migration
// map, once per process.
void DAVRegisterAnalyticsCodingClasses();
