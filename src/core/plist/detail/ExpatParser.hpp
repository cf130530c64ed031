#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct XML_ParserStruct;

namespace plistable::detail {

/// Where the XML parser stands: 1-based line and column, byte offset from the start.
struct XmlPosition {
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::uint64_t byteOffset = 0;
};

/// One expat parser without namespace processing, set up so that it never fetches anything:
/// no external entity or DTD is loaded, parameter entities are not parsed, and a document that
/// declares any entity, or refers to an entity it does not declare, is refused. Expat's own
/// protection against entity amplification stays on. Element names and character data reach the
/// Handler as UTF-8, whatever the document's encoding. Not copyable; one document per parser.
class ExpatParser {
public:
    /// Receives the events. Any handler may call stop() on the parser.
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void xmlStartElement(const char* name) = 0;
        virtual void xmlEndElement(const char* name) = 0;
        virtual void xmlCharacters(std::string_view utf8) = 0;
    };

    explicit ExpatParser(Handler& handler);
    ~ExpatParser();
    ExpatParser(const ExpatParser&) = delete;
    ExpatParser& operator=(const ExpatParser&) = delete;

    /// A buffer of `size` bytes owned by the parser, to be filled and passed to parseBuffer();
    /// nullptr when memory runs out.
    void* buffer(std::size_t size);
    /// Parses the first `length` bytes of the last buffer(); `isFinal` on the last piece.
    /// False when the document is malformed or a handler stopped the parser.
    bool parseBuffer(std::size_t length, bool isFinal);
    /// Parses `bytes`; `isFinal` on the last piece. False as for parseBuffer().
    bool parse(std::string_view bytes, bool isFinal);

    /// Makes character data go straight to the end of `*sink` instead of to
    /// Handler::xmlCharacters() (nullptr: to the handler again). Saves a call per piece for a
    /// handler that only gathers the text until the next tag.
    void gatherCharactersInto(std::string* sink) { _characterSink = sink; }

    /// Stops parsing from inside a handler; the running parse returns false and no more events come.
    void stop();

    /// The position of the event being handled (inside a handler) or of the error (after a failed parse).
    XmlPosition position() const;

    /// Why the last parse failed (expat's reason, or the refusal of an entity), with the position
    /// where it was found. Empty when it has not failed or a handler stopped it.
    const std::string& errorMessage() const { return _errorMessage; }
    XmlPosition errorPosition() const { return _errorPosition; }

private:
    struct Free {
        void operator()(XML_ParserStruct* parser) const noexcept;
    };
    bool finishParse(int status);
    void refuse(std::string message);

    static void onStartElement(void* self, const char* name, const char** attributes);
    static void onEndElement(void* self, const char* name);
    static void onCharacters(void* self, const char* text, int length);
    static void onEntityDeclaration(void* self, const char* name, int isParameterEntity, const char* value,
                                    int valueLength, const char* base, const char* systemId, const char* publicId,
                                    const char* notationName);
    static void onSkippedEntity(void* self, const char* name, int isParameterEntity);

    std::unique_ptr<XML_ParserStruct, Free> _parser;
    Handler& _handler;
    std::string* _characterSink = nullptr;
    bool _stoppedByHandler = false;
    std::string _errorMessage;
    XmlPosition _errorPosition;
};

} // namespace plistable::detail
