#pragma once

#include <QString>

// What a run of the program leaves behind when it is killed: its private
// temporary folders (copies of the catalogue, unpacked documents) and files
// it was writing under a passing name. The next start clears them; a run that
// is still going keeps everything of its own.
namespace Leftovers {

// The name every private temporary folder of this run begins with
// ("quillon-<process id>-"), so that a later start can tell whose it was.
QString temporaryPrefix();

// Removes the leftovers of runs that ended.
void clearOfEndedRuns();

} // namespace Leftovers

// A file written under a passing name that the writing library picks (the
// target's name, a dot and six letters, in the target's folder). While the
// object lives the passing name is on record; if the program is killed
// meanwhile, the next start removes the partial file.
class UnfinishedFile
{
public:
    explicit UnfinishedFile(const QString &targetPath);
    ~UnfinishedFile();
    UnfinishedFile(const UnfinishedFile &) = delete;
    UnfinishedFile &operator=(const UnfinishedFile &) = delete;

private:
    QString m_record;
};
