#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The series and episode that a programme's title names, as listings write them: "剧名(21)",
// "剧名[21]" (also with full-width brackets), "剧名 第21集", and any of these after the name of a
// slot and a colon ("X剧场:剧名(21)", "电视剧：剧名(21)").
struct SeriesEpisode {
    QString series;
    int episode = 0;
    friend bool operator==(const SeriesEpisode&, const SeriesEpisode&) = default;
};

// None when the title names no episode.
std::optional<SeriesEpisode> SeriesOfTitle(QStringView title);
