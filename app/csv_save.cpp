// Save As: the CSV file of what the main dialog shows.
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>

#include "analysis/settings.h"
#include "analysis/window_functions.h"
#include "dialog_internal.h"
#include "export/csv_writer.h"
#include "recording_model.h"
#include "translation.h"

namespace vurma::app {

namespace {

// The save dialog: proposes the CSV name beside the media file and asks
// before an existing file is overwritten (QFileDialog's default).
QString ChooseCsvFile(const QString& proposed) {
    QFileDialog dialog(nullptr);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.setNameFilters({Tr("ﾃｷｽﾄ ﾌｧｲﾙ (*.csv *.txt)"), Tr("すべてのﾌｧｲﾙ (*)")});
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

}  // namespace

void CAnalyzerDlg::ExportCsv() {
    if (!m_actSaveAs->isEnabled()) return;
    const std::size_t slash = m_strFilePath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : m_strFilePath.substr(0, slash + 1);
    const QString proposed = QString::fromStdString(folder + DefaultCsvName(m_strFilePath));
    const QString path = m_chooseSaveFile ? m_chooseSaveFile(proposed) : ChooseCsvFile(proposed);
    if (path.isEmpty()) return;

    // The file shows what the window shows: the readouts and labels as
    // displayed, the settings as selected, the current spectrum. Texts are
    // written in Japanese whatever the interface language.
    CsvInput in;
    in.mediaPath = m_strFilePath;
    in.infoText = m_model->infoText();
    in.startText = m_stTimeStart->text().toStdString();
    in.gain = g_dGain[ClampIndex(m_cbGain->currentIndex(), kGainCount, kDefaultGainIndex)];
    in.fftSize = SelFftSize();
    in.windowName = g_strWindowName[ClampIndex(m_cbWindow->currentIndex(), kOfferedWindowCount,
                                               kDefaultWindowIndex)];
    in.peakText = m_stPeak->text().toStdString();
    in.noteText = m_strNoteText;
    in.sampleRate = m_nSampleRate;
    in.spectrumDb = m_spectrum->db;
    WriteCsvFile(path.toStdString(), BuildCsvText(in));
}

}  // namespace vurma::app
