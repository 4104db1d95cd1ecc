#ifndef APPLYCOMMAND_H
#define APPLYCOMMAND_H

class CommandLine;

// apply FILTER TARGET... (-o OUT | -d DIR): applies a filter to images.
class ApplyCommand
{
public:
    explicit ApplyCommand(CommandLine &line);
    int run();

private:
    CommandLine &m_line;
};

#endif // APPLYCOMMAND_H
