#pragma once

#include "catalogue/Schedule.h"

#include <QDateTime>

// When a programme stops: its stop, or the midnight after its start when that is not known.
QDateTime EndOf(const Programme& programme);

// What runs at a moment: the programme on air (started at or before `at`, and `at` before its
// end, see EndOf) and the next programme to start after `at`. Pointers into `schedule`; null when
// there is none.
struct OnAir {
    const Programme* current = nullptr;
    const Programme* next = nullptr;
};
OnAir FindOnAir(const Schedule& schedule, const QDateTime& at);
