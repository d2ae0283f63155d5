#include "tests/qt/form1_fixture.h"

#include <QLabel>
#include <QListView>
#include <fstream>
#include <sstream>

#include "engine/signature.h"

namespace quelix {

Form1Test::Form1Test() {
  tree_.MakeDirectory("drive");
  tree_.MakeDirectory("program");
  watcher_.setInterval(0);
}

Form1::Setup Form1Test::MakeSetup(std::chrono::milliseconds yield_interval) {
  places_.volumes = {
      {"/", "/ (vda)", "/dev/vda", "", "ext4"},
      {tree_.Path("drive"), tree_.Path("drive") + " (TESTDRIVE)", "", "TESTDRIVE", "ext4"}};
  places_.start_volume = 1;
  places_.program_dir = tree_.Path("program");
  places_.backup_folder = tree_.Path("state/backups");
  places_.readme = tree_.Path("program/readme.txt");
  places_.log_places = {{tree_.Path("program/log.txt"), false},
                        {tree_.Path("state/quelix-remover/log.txt"), true}};
  Form1::Setup setup;
  setup.fs = fs_.get();
  setup.shell = &shell_;
  setup.places = &places_;
  setup.open_registry = [](Directory&) { return nullptr; };
  setup.message_box = [this](const std::string& text, MessageIcon icon) {
    messages_.push_back(text);
    icons_.push_back(icon);
  };
  // A question is answered No, as a careful user would, unless a test says otherwise; it is
  // recorded like a message.
  setup.question_box = [this](const std::string& text) {
    messages_.push_back(text);
    return answer_yes_;
  };
  setup.on_unload = [this] { ++unloads_; };
  setup.yield_interval = yield_interval;
  setup.status_interval = yield_interval;
  setup.refresh_interval = yield_interval;
  setup.refresh_cost_factor = 0;
  return setup;
}

std::unique_ptr<Form1> Form1Test::MakeForm(std::chrono::milliseconds yield_interval) {
  auto form = std::make_unique<Form1>(MakeSetup(yield_interval));
  form->Load();
  form->show();
  return form;
}

void Form1Test::WritePage(const std::string& relative, bool infected) {
  const std::string body = infected ? MarkerLine() + "\r\n" + SignatureLine() : "<p>clean</p>";
  tree_.Write("drive/" + relative, "<html>\r\n" + body + "\r\n</html>\r\n");
}

std::string Form1Test::P(const std::string& relative) const {
  return tree_.Path("drive/" + relative);
}

void Form1Test::Watch(std::function<bool()> watch) {
  QObject::disconnect(&watcher_, nullptr, nullptr, nullptr);
  QObject::connect(&watcher_, &QTimer::timeout, [this, watch = std::move(watch)] {
    if (watch()) watcher_.stop();
  });
  watcher_.start();
}

std::vector<std::string> Form1Test::Rows(Form1& form, const char* list_name) {
  std::vector<std::string> rows;
  const auto* view = form.findChild<QListView*>(QString::fromLatin1(list_name));
  if (!view) return rows;
  const QAbstractItemModel* model = view->model();
  for (int row = 0; row < model->rowCount(); ++row) {
    rows.push_back(model->data(model->index(row, 0)).toString().toStdString());
  }
  return rows;
}

std::string Form1Test::StatusText(Form1& form) {
  const auto* label = form.findChild<QLabel*>(QStringLiteral("Label1"));
  return label ? label->text().toStdString() : std::string("<no Label1>");
}

std::vector<std::string> Form1Test::FileLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(all.substr(start, end - start));
  }
  if (start < all.size()) lines.push_back(all.substr(start) + "<unterminated>");
  return lines;
}

std::vector<std::string> Form1Test::ScanLog(
    const std::vector<std::string>& searched_dirs,
    const std::vector<std::pair<std::string, bool>>& scanned) const {
  std::vector<std::string> lines;
  for (const std::string& dir : searched_dirs) {
    lines.push_back("Searching ");
    lines.push_back(tree_.Path("drive/" + dir));
  }
  for (const auto& [page, infected] : scanned) {
    lines.push_back("Scanning " + P(page));
    if (infected) lines.push_back("Virus found in " + P(page));
  }
  return lines;
}

}  // namespace quelix
