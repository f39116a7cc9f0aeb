#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "Vistrel/model/AppModel.h"
#include "Vistrel/model/Clock.h"
#include "Vistrel/model/Job.h"
#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/library/FrameRecords.h"

namespace vistrel {

// Loads the timeline's current frame: its summary and its decoded image. Every change of frame
// restarts it and first waits a moment, so scrubbing through a day loads only where the user
// stops; an answer that comes back after a newer start, or after cancel, is dropped.
//
// Main thread only. The waiting runs on the given clock; the loading on whatever the sources do
// (the model's worker threads in the application, so decoding never blocks the screen).
class FrameLoader : public QObject {
  Q_OBJECT

 public:
  static constexpr double delay = 0.06;

  // Where summaries and images come from, asked for by the loader (the context); each answers
  // on the main thread.
  struct Sources {
    std::function<void(QObject*, std::int64_t, std::function<void(std::optional<FrameSummary>)>)>
        summary;
    std::function<void(QObject*, std::int64_t, std::function<void(std::optional<Image>)>)> image;
  };
  // The model's loadSummary (with an empty query) and loadImage.
  static Sources fromModel(AppModel& model);

  FrameLoader(std::shared_ptr<Clock> clock, Sources sources, QObject* parent = nullptr);
  ~FrameLoader() override;

  // Starts over for this frame; none clears the summary and the image at once.
  void restart(std::optional<std::int64_t> id);
  // Stops the running load; what was already applied stays.
  void cancel();

  const std::optional<FrameSummary>& summary() const { return summary_; }
  const std::optional<Image>& image() const { return image_; }

 Q_SIGNALS:
  void summaryChanged();
  void imageChanged();

 private:
  void setSummary(std::optional<FrameSummary> summary);
  void setImage(std::optional<Image> image);

  std::shared_ptr<Clock> clock_;
  Sources sources_;
  JobHandle job_;
  std::optional<FrameSummary> summary_;
  std::optional<Image> image_;
};

}  // namespace vistrel
