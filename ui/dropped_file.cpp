#include "dropped_file.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <string_view>

#include "path_text.h"

namespace {

QString DraggedFile(const QMimeData* data) {
  if (data == nullptr || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return {};
  // QUrl::toLocalFile would put bytes that are not UTF-8 through a lossy conversion.
  const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  return PathText(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

}  // namespace

void AcceptFileDrag(QDragEnterEvent* event) {
  if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

QString TakeDroppedFile(QDropEvent* event) {
  const QString path = DraggedFile(event->mimeData());
  if (!path.isEmpty()) event->acceptProposedAction();
  return path;
}
