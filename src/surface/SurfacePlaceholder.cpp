// The surface construction is added here.
namespace cavitas {}
