// The Korean translation: the compiled catalogue embedded in the program, every
// text of the catalogue translated, and the windows showing Korean texts.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>
#include <vector>

#include "engine/rename_run.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/row_marks.h"
#include "ui/qt/secondary_dialogs.h"

using morix::testing::TempDir;
using morix::ui::CBatchRenameDlg;
using morix::ui::CNameRangeDlg;
using morix::ui::CProgressDlg;
using morix::ui::CRenameCompleteDlg;

namespace {

struct CatalogueEntry {
    QString context;
    QString source;
    QString translation;
    QString type;  // "unfinished", "obsolete", "vanished", … or empty when finished
};

// Every message of the Korean .ts file, as written by the translator.
std::vector<CatalogueEntry> ReadCatalogue() {
    std::vector<CatalogueEntry> entries;
    QFile file(QStringLiteral(MORIX_TS_FILE));
    if (!file.open(QIODevice::ReadOnly)) return entries;
    QXmlStreamReader xml(&file);
    QString context;
    CatalogueEntry entry;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            if (xml.isEndElement() && xml.name() == u"message") entries.push_back(entry);
            continue;
        }
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            entry = CatalogueEntry{context, {}, {}, {}};
        } else if (xml.name() == u"source") {
            entry.source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            entry.type = xml.attributes().value(QStringLiteral("type")).toString();
            entry.translation = xml.readElementText();
        }
    }
    if (xml.hasError()) qWarning() << "catalogue:" << xml.errorString();
    return entries;
}

bool HasHangul(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() >= 0xAC00 && c.unicode() <= 0xD7A3) return true;
    }
    return false;
}

// The texts a user reads in a window: its title, labels, group titles,
// buttons and the entries of its fixed lists.
QStringList VisibleTexts(const QWidget& window) {
    QStringList texts{window.windowTitle()};
    for (const QLabel* label : window.findChildren<QLabel*>()) texts << label->text();
    for (const QGroupBox* box : window.findChildren<QGroupBox*>()) texts << box->title();
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
        texts << button->text();
    }
    for (const QComboBox* combo : window.findChildren<QComboBox*>()) {
        if (combo->isEditable()) continue;  // the template history is the user's
        for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    }
    texts.removeAll(QString());
    return texts;
}

// The text of adjacent C++ string literals ("a" "b"), with the escapes \n,
// \t, \" and \\ read.
QString LiteralText(const QString& literals) {
    QString text;
    bool inside = false;
    for (qsizetype i = 0; i < literals.size(); ++i) {
        const QChar c = literals[i];
        if (c == u'"') {
            inside = !inside;
        } else if (inside && c == u'\\' && i + 1 < literals.size()) {
            const QChar next = literals[++i];
            text += next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t') : next;
        } else if (inside) {
            text += c;
        }
    }
    return text;
}

// Texts that read the same in every language.
bool LanguageFree(const QString& text) {
    return text == QStringLiteral("▲") || text == QStringLiteral("▼");
}

void SaveScreenshot(QWidget& window, const char* name) {
    QDir().mkpath(QStringLiteral(MORIX_SCREENSHOT_DIR));
    QVERIFY(window.grab().save(QStringLiteral(MORIX_SCREENSHOT_DIR "/") + name));
}

}  // namespace

class TranslationTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        // The path the program loads for a Korean user interface.
        QVERIFY(QFile::exists(QStringLiteral(":/i18n/morix_ko.qm")));
        QVERIFY(korean_.load(QStringLiteral(":/i18n/morix_ko.qm")));
        QVERIFY(QApplication::installTranslator(&korean_));
    }

    void keyTextsAreKorean() {
        const char* main = "morix::ui::CBatchRenameDlg";
        QCOMPARE(QCoreApplication::translate(main, "Trelvo Renamer"), QString("트렐보 리네이머"));
        QCOMPARE(QCoreApplication::translate(main, "&Rename"), QString("바꾸기(&R)"));
        QCOMPARE(QCoreApplication::translate(main, "Normalize unicode (Mac filenames)"),
                 QString("유니코드 정규화(Mac 파일명)"));
        QCOMPARE(QCoreApplication::translate(main, "Original File Name excluding Numbers <NS>"),
                 QString("숫자를 제외한 원본 파일 이름 <NS>"));
        QCOMPARE(QCoreApplication::translate(main, "Change the first letter to uppercase"),
                 QString("첫 문자만 대문자로 변경"));
        QCOMPARE(QCoreApplication::translate(main, "Modified Time"), QString("파일 수정 날짜"));
        QCOMPARE(
            QCoreApplication::translate(
                main, "There is already a file with the same name in this location."),
            QString("이 위치에 이름이 같은 파일이 있습니다."));
        QCOMPARE(QCoreApplication::translate("morix::ui::PreviewModel", "Location"),
                 QString("위치"));
        // One English text, two Korean ones: the context decides.
        QCOMPARE(QCoreApplication::translate("morix::ui::CNameRangeDlg", "&Cancel"),
                 QString("취소"));
        QCOMPARE(QCoreApplication::translate("morix::ui::CProgressDlg", "&Cancel"),
                 QString("취소(&C)"));
        QCOMPARE(QCoreApplication::translate("morix::ui::CRenameCompleteDlg", "&Restart"),
                 QString("다시 시작(&R)"));
        // The count under the list puts the total first in Korean.
        QCOMPARE(morix::ui::RowMarks::CountLine({2, 1, 40}, 1204),
                 QString("파일 1,204개 중 충돌 2개, 쓸 수 없는 이름 1개, 변경 없음 40개"));
        QCOMPARE(morix::ui::RowMarks::Reason(morix::RowProblem::kTakenByFolder),
                 QString("충돌: 목록에 없는 폴더가 새 이름을 쓰고 있습니다."));
    }

    void everyMessageIsTranslatedAndCompiled() {
        const std::vector<CatalogueEntry> entries = ReadCatalogue();
        QVERIFY(entries.size() >= 70);
        int untranslated = 0;
        static const QRegularExpression tokens(QStringLiteral("<[^<>]+>|\\(\\*\\)|#~####|%\\d"));
        for (const CatalogueEntry& entry : entries) {
            const QString where = entry.context + " / " + entry.source;
            if (!entry.type.isEmpty() || entry.translation.isEmpty()) {
                qWarning() << "not translated:" << where << entry.type;
                ++untranslated;
                continue;
            }
            // The compiled catalogue gives what the translator wrote.
            QCOMPARE(QCoreApplication::translate(qPrintable(entry.context),
                                                 qPrintable(entry.source)),
                     entry.translation);
            // Template tokens, the file pattern and the place holders stay as they are.
            for (const QRegularExpressionMatch& token : tokens.globalMatch(entry.source)) {
                QVERIFY2(entry.translation.contains(token.captured()), qPrintable(where));
            }
        }
        QCOMPARE(untranslated, 0);
    }

    void everySourceTextHasAnEntry() {
        QStringList catalogue;
        for (const CatalogueEntry& entry : ReadCatalogue()) catalogue << entry.source;
        // tr( with one string literal or several adjacent ones, then ).
        static const QRegularExpression call(
            QStringLiteral("\\btr\\(\\s*((?:\"(?:[^\"\\\\]|\\\\.)*\"\\s*)+)\\)"));
        const QDir dir(QStringLiteral(MORIX_UI_SOURCE_DIR));
        int calls = 0;
        for (const QString& name : dir.entryList({QStringLiteral("*.cpp")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString code = QString::fromUtf8(file.readAll());
            for (const QRegularExpressionMatch& match : call.globalMatch(code)) {
                const QString text = LiteralText(match.captured(1));
                ++calls;
                QVERIFY2(catalogue.contains(text), qPrintable(name + ": " + text));
            }
        }
        QVERIFY(calls >= 70);
    }

    void mainWindowShowsKorean() {
        TempDir dir;
        for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0010.JPG", "여행.jpeg"}) {
            dir.MakeFile(name, 100);
        }
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QString("트렐보 리네이머 1.8"));
        const QStringList texts = VisibleTexts(dialog);
        QVERIFY(texts.contains("유니코드 정규화(Mac 파일명)"));
        QVERIFY(texts.contains("템플릿에서 선택해서 추가하세요."));
        for (const QString& text : texts) {
            QVERIFY2(HasHangul(text) || LanguageFree(text), qPrintable(text));
        }
        const QAbstractItemModel* model = dialog.PreviewList()->model();
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString("이전 이름"));
        QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QString("새 이름"));
        QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QString("위치"));

        dialog.TemplateCombo()->setEditText("여행_###");
        QTRY_COMPARE_WITH_TIMEOUT(model->index(0, 1).data().toString(), QString("여행_001.JPG"),
                                  3000);
        SaveScreenshot(dialog, "main-window-ko.png");
    }

    void smallDialogsShowKorean() {
        CNameRangeDlg range(QStringLiteral("IMG_0001"), nullptr);
        range.show();
        QCOMPARE(range.windowTitle(), QString("이름 영역 선택"));
        for (const QString& text : VisibleTexts(range)) {
            QVERIFY2(HasHangul(text), qPrintable(text));
        }
        SaveScreenshot(range, "name-range-ko.png");

        morix::RenameProgress progress;
        CProgressDlg running(QStringLiteral("트렐보 리네이머"), QStringLiteral("이름을 바꾸고 있습니다..."),
                             progress, nullptr);
        for (const QString& text : VisibleTexts(running)) {
            QVERIFY2(HasHangul(text), qPrintable(text));
        }

        CRenameCompleteDlg complete(nullptr);
        complete.show();
        QCOMPARE(complete.windowTitle(), QString("완료"));
        const QStringList texts = VisibleTexts(complete);
        QVERIFY(texts.contains("파일 이름 바꾸기를 완료했습니다."));
        for (const QString& text : texts) {
            QVERIFY2(HasHangul(text), qPrintable(text));
        }
        SaveScreenshot(complete, "rename-complete-ko.png");
    }

  private:
    QTranslator korean_;
};

QTEST_MAIN(TranslationTest)
#include "translation_test.moc"
