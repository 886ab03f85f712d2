#pragma once

// Registers the crashes service's archived classes once per process, so the
// log store can read them back.
void DAVRegisterCrashesCodingClasses();
