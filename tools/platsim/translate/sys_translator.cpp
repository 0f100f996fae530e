#include "tools/platsim/translate/sys_translator.h"

#include "tools/platsim/translate/translate_session.h"
#include "tools/platsim/translate/translation_report.h"

#include <memory>

namespace platsim {

// For decode: the platform started once, then `translate sys` for each
// address found in a record.
struct SysTranslator::Impl {
  GlobalOptions opts;
  TranslateSession session;
  explicit Impl(const GlobalOptions& o) : opts(o), session(opts) {}
};

SysTranslator::SysTranslator(const GlobalOptions& opts) {
  try {
    impl_ = std::make_unique<Impl>(opts);
  } catch (const Refusal& e) {
    throw UserError(e.what());  // the driver did not start: no translations
  }
}
SysTranslator::~SysTranslator() = default;

SysTranslation SysTranslator::Translate(uint64_t address) {
  impl_->session.TakeMessages();  // only this address's messages
  Report r;
  SysTranslation t;
  uint32_t stop = 0;
  t.refusal = ReportSys(impl_->session, impl_->opts, address, r, &stop);
  if (stop != 0) throw UserError(t.refusal);  // the driver stopped: no translation
  if (!t.refusal.empty()) r.text << "no answer           " << t.refusal << "\n";
  Finish(impl_->session, impl_->opts, r, t.refusal);
  t.text = r.text.str();
  t.json = std::move(r.json);
  return t;
}

}  // namespace platsim
