#pragma once

#include "catalogue/Schedule.h"

#include <QDateTime>

// When a dated programme stops, in milliseconds since the epoch: its stop, or the midnight (on the
// listings' clock) after its start when that is not known.
qint64 EndOf(const Programme& programme);

// What runs at a moment: the programme on air (started at or before `at`, and `at` before its
// end, see EndOf) and the next programme to start after `at`. Pointers into `schedule`; null when
// there is none.
struct OnAir {
    const Programme* current = nullptr;
    const Programme* next = nullptr;
};
OnAir FindOnAir(const Schedule& schedule, const QDateTime& at);
