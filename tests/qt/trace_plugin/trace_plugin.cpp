// A generic input plugin that only leaves a trace: loading the library
// creates the file named by TSLFLASH_TRACE_FILE, so a test can tell whether
// Qt loaded a plugin the environment pointed at.
#include <QGenericPlugin>
#include <cstdio>
#include <cstdlib>

namespace {

__attribute__((constructor)) void LeaveTrace() {
  const char* path = std::getenv("TSLFLASH_TRACE_FILE");
  if (path == nullptr) return;
  if (std::FILE* file = std::fopen(path, "w")) std::fclose(file);
}

}  // namespace

class TracePlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "trace_plugin.json")

 public:
  QObject* create(const QString&, const QString&) override { return nullptr; }
};

#include "trace_plugin.moc"
