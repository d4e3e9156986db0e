"""Reads an iCalendar file with python3-icalendar and prints its events as JSON lines, so that a
test can compare what an independent reader makes of the file with what was written."""
import json
import sys

import icalendar


def main(path):
    with open(path, "rb") as file:
        calendar = icalendar.Calendar.from_ical(file.read())
    for event in calendar.walk("VEVENT"):
        alarms = event.walk("VALARM")
        print(json.dumps({
            "uid": str(event["UID"]),
            "start": event.decoded("DTSTART").isoformat(),
            "end": event.decoded("DTEND").isoformat(),
            "summary": str(event["SUMMARY"]),
            "location": str(event["LOCATION"]),
            "trigger": int(alarms[0].decoded("TRIGGER").total_seconds()) if alarms else None,
        }, ensure_ascii=False, sort_keys=True))


if __name__ == "__main__":
    main(sys.argv[1])
