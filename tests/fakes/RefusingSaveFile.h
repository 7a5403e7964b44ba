#pragma once

#include <QSaveFile>

// Refuses every write the way a full disk does, also for root.
class RefusingSaveFile final : public QSaveFile {
public:
    using QSaveFile::QSaveFile;

protected:
    qint64 writeData(const char*, qint64) override
    {
        setErrorString(QStringLiteral("No space left on device"));
        return -1;
    }
};
