#include "Vistrel/gui/timeline/FrameLoader.h"

namespace vistrel {

FrameLoader::Sources FrameLoader::fromModel(AppModel& model) {
  return Sources{
      [&model](QObject* context, std::int64_t id,
               std::function<void(std::optional<FrameSummary>)> done) {
        model.loadSummary(id, SearchQuery{}, context, std::move(done));
      },
      [&model](QObject* context, std::int64_t id, std::function<void(std::optional<Image>)> done) {
        model.loadImage(id, context, std::move(done));
      },
  };
}

FrameLoader::FrameLoader(std::shared_ptr<Clock> clock, Sources sources, QObject* parent)
    : QObject(parent), clock_(std::move(clock)), sources_(std::move(sources)) {}

FrameLoader::~FrameLoader() {
  cancel();
}

void FrameLoader::restart(std::optional<std::int64_t> id) {
  vistrel::cancel(job_);
  // A summary belongs to one frame: leaving it up would label the new frame with the old one's
  // application and copy the old one's text. The image stays until the new one arrives, so
  // scrubbing shows the last frame seen rather than a flashing progress indicator.
  setSummary(std::nullopt);
  if (!id) {
    setImage(std::nullopt);
    return;
  }
  auto job = std::make_shared<Job>();
  job_ = job;
  std::weak_ptr<Job> weak = job;
  const auto alive = [weak] {
    const JobHandle job = weak.lock();
    return job && !job->isCancelled();
  };
  clock_->after(delay, this, [this, alive, id = *id] {
    if (!alive())
      return;
    sources_.summary(this, id, [this, alive](std::optional<FrameSummary> summary) {
      if (alive())
        setSummary(std::move(summary));
    });
    sources_.image(this, id, [this, alive](std::optional<Image> image) {
      if (alive())
        setImage(std::move(image));
    });
  });
}

void FrameLoader::cancel() {
  vistrel::cancel(job_);
}

void FrameLoader::setSummary(std::optional<FrameSummary> summary) {
  if (summary_ == summary)
    return;
  summary_ = std::move(summary);
  Q_EMIT summaryChanged();
}

void FrameLoader::setImage(std::optional<Image> image) {
  if (!image && !image_)
    return;
  image_ = std::move(image);
  Q_EMIT imageChanged();
}

}  // namespace vistrel
