// Placeholder, replaced by the codec.
namespace qz417::link {}
